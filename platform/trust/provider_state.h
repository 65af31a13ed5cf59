// The verification state WinVerifyTrust hands out in hWVTStateData: the provider record with one
// signer whose chain holds the signer certificate first. Everything the record points to is owned
// here and lives until the state is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/trust/verdict.h"
#include "platform/trust/wintrust.h"

namespace velmora::trust {

// A certificate as the platform's callers read it: CERT_CONTEXT with CERT_INFO whose name blobs
// point into the context's own DER.
class CertificateContext {
public:
    // Null when the DER is not a certificate we can lay out.
    static std::unique_ptr<CertificateContext> FromDer(Der der);

    PCCERT_CONTEXT Context() const { return &m_context; }

private:
    CertificateContext() = default;

    Der m_der;
    std::string m_algorithm;
    std::vector<BYTE> m_serialLittleEndian;
    CERT_INFO m_info{};
    CERT_CONTEXT m_context{};
};

class VerifyState {
public:
    VerifyState(WINTRUST_DATA* data, LONG status, const SignatureReport& report);
    VerifyState(const VerifyState&) = delete;
    VerifyState& operator=(const VerifyState&) = delete;

    CRYPT_PROVIDER_DATA* ProviderData() { return &m_providerData; }

    // The state behind a handle, or null when the handle is none of ours.
    static VerifyState* FromHandle(HANDLE handle);
    HANDLE Handle() { return this; }

private:
    static constexpr std::uint32_t kMagic = 0x56535431;  // "VST1"
    std::uint32_t m_magic = kMagic;
    std::vector<std::unique_ptr<CertificateContext>> m_certificates;
    std::vector<CRYPT_PROVIDER_CERT> m_chain;
    CRYPT_PROVIDER_SGNR m_signer{};
    CRYPT_PROVIDER_DATA m_providerData{};

public:
    ~VerifyState() { m_magic = 0; }
};

}  // namespace velmora::trust
