// A test fixture that binds the verification code to the recording fake trust library, and
// helpers to build what the fake hands out.
#pragma once

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/kernel/kernel_object.h"
#include "platform/kernel/module_api.h"
#include "tests/verify/fake_trust/recorder.h"
#include "verify/result_codes.h"
#include "verify/trust_binding.h"

// DER of an X.500 name built from (type, value) pairs in this order, e.g. {{"C", "CN"}, {"CN", "x"}}.
inline std::vector<BYTE> EncodedName(const std::vector<std::pair<std::string, std::string>>& attributes) {
    X509_NAME* name = X509_NAME_new();
    for (const auto& [type, value] : attributes)
        X509_NAME_add_entry_by_txt(name, type.c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<int>(value.size()), -1, 0);
    unsigned char* der = nullptr;
    const int length = i2d_X509_NAME(name, &der);
    std::vector<BYTE> bytes(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    X509_NAME_free(name);
    return bytes;
}

inline void RecordModuleCall(const char* operation, const char* argument) {
    fake_trust::Record(std::string(operation) + " " + argument);
}

class FakeTrustTest : public ::testing::Test {
  protected:
    void SetUp() override {
        velmora::kernel::ClearModuleOverrides();
        velmora::kernel::RedirectModule(u"wintrust.dll", FAKE_WINTRUST_LIBRARY);
        fake_trust::Reset();
        velmora::kernel::SetModuleCallObserver(&RecordModuleCall);
        m_handlesBefore = velmora::kernel::OpenKernelHandleCount();
    }

    void TearDown() override {
        // Whatever a test did, nothing it verified stays open.
        EXPECT_EQ(fake_trust::OpenStates(), 0);
        EXPECT_EQ(velmora::kernel::OpenKernelHandleCount(), m_handlesBefore);
        velmora::kernel::SetModuleCallObserver(nullptr);
        velmora::kernel::SetModuleFreeFails(u"wintrust.dll", false);
        fake_trust::CurrentScript().releaseResult = TRUE;
        EXPECT_EQ(UnbindTrustLibrary(), VR_OK);
        velmora::kernel::ClearModuleOverrides();
    }

    // Binds and forgets the calls binding made.
    void BindReady() {
        ASSERT_EQ(BindTrustLibrary(), VR_OK);
        fake_trust::Reset();
    }

    std::size_t m_handlesBefore = 0;
};
