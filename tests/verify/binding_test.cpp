#include <string>
#include <vector>

#include "tests/verify/fake_trust_fixture.h"
#include "verify/file_verification.h"

namespace {

using Calls = std::vector<std::string>;

const Calls kTenLookups = {
    "GetProcAddress CryptCATAdminAcquireContext",
    "GetProcAddress CryptCATAdminReleaseContext",
    "GetProcAddress CryptCATAdminCalcHashFromFileHandle",
    "GetProcAddress CryptCATAdminEnumCatalogFromHash",
    "GetProcAddress CryptCATCatalogInfoFromContext",
    "GetProcAddress CryptCATAdminReleaseCatalogContext",
    "GetProcAddress WinVerifyTrust",
    "GetProcAddress WTHelperProvDataFromStateData",
    "GetProcAddress WTHelperGetProvCertFromChain",
    "GetProcAddress WTHelperGetProvSignerFromChain",
};

Calls Concat(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

int FilledSlots() {
    const void* const* slots = reinterpret_cast<const void* const*>(&g_WinTrustApi);
    int filled = 0;
    for (std::size_t i = 0; i < sizeof(WinTrustApi) / sizeof(void*); ++i)
        filled += slots[i] != nullptr;
    return filled;
}

const std::string kAcquire = "CryptCATAdminAcquireContext out=set subsystem=null flags=0 -> TRUE";
const std::string kRelease = "CryptCATAdminReleaseContext admin=admin flags=0 -> TRUE";

class Binding : public FakeTrustTest {};

TEST_F(Binding, LoadsResolvesInTableOrderAcquiresAndUnbindsInReverse) {
    EXPECT_EQ(BindTrustLibrary(), VR_OK);
    EXPECT_EQ(fake_trust::Log(), Concat({{"LoadLibraryW wintrust.dll"}, kTenLookups, {kAcquire}}));
    EXPECT_NE(g_hWinTrust, nullptr);
    EXPECT_NE(g_hCatAdmin, nullptr);
    EXPECT_EQ(FilledSlots(), 10);
    EXPECT_TRUE(IsTrustBindingReady());

    fake_trust::Reset();
    EXPECT_EQ(BindTrustLibrary(), VR_OK) << "binding a ready binding again";
    EXPECT_EQ(fake_trust::Log(), Calls{});

    EXPECT_EQ(UnbindTrustLibrary(), VR_OK);
    EXPECT_EQ(fake_trust::Log(), (Calls{kRelease, "FreeLibrary wintrust.dll"}));
    EXPECT_EQ(g_hWinTrust, nullptr);
    EXPECT_EQ(g_hCatAdmin, nullptr);
    EXPECT_EQ(FilledSlots(), 0);

    fake_trust::Reset();
    EXPECT_EQ(UnbindTrustLibrary(), VR_OK) << "unbinding twice";
    EXPECT_EQ(fake_trust::Log(), Calls{});
}

TEST_F(Binding, UnbindingWithoutBindingMakesNoCall) {
    EXPECT_EQ(UnbindTrustLibrary(), VR_OK);
    EXPECT_EQ(fake_trust::Log(), Calls{});
}

TEST_F(Binding, AMissingLibraryFailsToLoadAndLeavesNothingBound) {
    velmora::kernel::RedirectModule(u"wintrust.dll", "/nonexistent/libwintrust.so");
    EXPECT_EQ(BindTrustLibrary(), VR_LOAD_FAILED);
    EXPECT_EQ(fake_trust::Log(), Calls{"LoadLibraryW wintrust.dll"});
    EXPECT_EQ(g_hWinTrust, nullptr);
    EXPECT_EQ(FilledSlots(), 0);
}

TEST_F(Binding, AMissingExportStopsNoLookUpAndKeepsTheLibraryLoaded) {
    struct MissingCase {
        const char* library;
        int missingSlot; // index in the table's order
    };
    const MissingCase cases[] = {{FAKE_WINTRUST_NO_ACQUIRE_LIBRARY, 0},
                                 {FAKE_WINTRUST_NO_CERT_HELPER_LIBRARY, 8}};
    for (const MissingCase& c : cases) {
        SCOPED_TRACE(c.library);
        velmora::kernel::RedirectModule(u"wintrust.dll", c.library);
        fake_trust::Reset();

        EXPECT_EQ(BindTrustLibrary(), VR_RESOLVE_FAILED);
        EXPECT_EQ(fake_trust::Log(), Concat({{"LoadLibraryW wintrust.dll"}, kTenLookups}));
        EXPECT_EQ(FilledSlots(), 9);
        EXPECT_EQ(reinterpret_cast<const void* const*>(&g_WinTrustApi)[c.missingSlot], nullptr);
        EXPECT_NE(g_hWinTrust, nullptr);
        EXPECT_EQ(g_hCatAdmin, nullptr);
        EXPECT_EQ(VerifyFileSignature(u"/bin/sh"), VR_NOT_READY);

        // Binding again looks all ten up again in the library already loaded.
        fake_trust::Reset();
        EXPECT_EQ(BindTrustLibrary(), VR_RESOLVE_FAILED);
        EXPECT_EQ(fake_trust::Log(), kTenLookups);

        fake_trust::Reset();
        EXPECT_EQ(UnbindTrustLibrary(), VR_OK);
        EXPECT_EQ(fake_trust::Log(), Calls{"FreeLibrary wintrust.dll"});
        EXPECT_EQ(g_hWinTrust, nullptr);
    }
}

TEST_F(Binding, AContextFailureKeepsLibraryAndSlotsAndIsRetriedAlone) {
    fake_trust::CurrentScript().acquireResult = FALSE; // the fake also scribbles on the out-argument
    EXPECT_EQ(BindTrustLibrary(), VR_CONTEXT_FAILED);
    EXPECT_EQ(g_hCatAdmin, nullptr);
    EXPECT_NE(g_hWinTrust, nullptr);
    EXPECT_EQ(FilledSlots(), 10);

    fake_trust::Reset();
    EXPECT_EQ(VerifyFileSignature(u"/bin/sh"), VR_NOT_READY);
    EXPECT_EQ(fake_trust::Log(), Calls{});

    EXPECT_EQ(BindTrustLibrary(), VR_OK);
    EXPECT_EQ(fake_trust::Log(), Calls{kAcquire});
    EXPECT_TRUE(IsTrustBindingReady());
}

TEST_F(Binding, AFailedReleaseChangesNothingAndVerificationGoesOn) {
    BindReady();
    const HMODULE module = g_hWinTrust;
    const HCATADMIN context = g_hCatAdmin;
    fake_trust::CurrentScript().releaseResult = FALSE;

    EXPECT_EQ(UnbindTrustLibrary(), VR_RELEASE_FAILED);
    EXPECT_EQ(fake_trust::Log(), Calls{"CryptCATAdminReleaseContext admin=admin flags=0 -> FALSE"});
    EXPECT_EQ(g_hWinTrust, module);
    EXPECT_EQ(g_hCatAdmin, context);
    EXPECT_EQ(FilledSlots(), 10);

    fake_trust::Reset();
    fake_trust::CurrentScript().releaseResult = FALSE;
    EXPECT_EQ(VerifyFileSignature(u"/nonexistent/file.exe"), VR_OPEN_FAILED);
    EXPECT_EQ(fake_trust::CallNames(), (Calls{"WinVerifyTrust verify", "WinVerifyTrust close"}));
}

TEST_F(Binding, AFailedFreeKeepsTheModuleAndTheNextBindingResolvesWithoutLoading) {
    BindReady();
    const HMODULE module = g_hWinTrust;
    velmora::kernel::SetModuleFreeFails(u"wintrust.dll", true);

    EXPECT_EQ(UnbindTrustLibrary(), VR_UNLOAD_FAILED);
    EXPECT_EQ(fake_trust::Log(), (Calls{kRelease, "FreeLibrary wintrust.dll"}));
    EXPECT_EQ(g_hWinTrust, module);
    EXPECT_EQ(g_hCatAdmin, nullptr);
    EXPECT_EQ(FilledSlots(), 0);

    fake_trust::Reset();
    EXPECT_EQ(VerifyFileSignature(u"/bin/sh"), VR_NOT_READY);
    EXPECT_EQ(fake_trust::Log(), Calls{});

    velmora::kernel::SetModuleFreeFails(u"wintrust.dll", false);
    EXPECT_EQ(BindTrustLibrary(), VR_OK);
    EXPECT_EQ(fake_trust::Log(), Concat({kTenLookups, {kAcquire}}));
    EXPECT_EQ(g_hWinTrust, module);
}

} // namespace
