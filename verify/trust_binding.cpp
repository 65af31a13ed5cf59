#include "verify/trust_binding.h"

#include "platform/kernel/module_api.h"
#include "verify/result_codes.h"

HMODULE g_hWinTrust = nullptr;
HCATADMIN g_hCatAdmin = nullptr;
WinTrustApi g_WinTrustApi = {};

namespace {

template <typename Fn> Fn Resolve(const char* exportName) {
    return reinterpret_cast<Fn>(GetProcAddress(g_hWinTrust, exportName));
}

// One look-up per slot, in order; a missing export does not stop the ones after it.
void ResolveAllEntryPoints() {
    WinTrustApi& api = g_WinTrustApi;
    api.pfnCryptCATAdminAcquireContext =
        Resolve<CryptCATAdminAcquireContext_FN>("CryptCATAdminAcquireContext");
    api.pfnCryptCATAdminReleaseContext =
        Resolve<CryptCATAdminReleaseContext_FN>("CryptCATAdminReleaseContext");
    api.pfnCryptCATAdminCalcHashFromFileHandle =
        Resolve<CryptCATAdminCalcHashFromFileHandle_FN>("CryptCATAdminCalcHashFromFileHandle");
    api.pfnCryptCATAdminEnumCatalogFromHash =
        Resolve<CryptCATAdminEnumCatalogFromHash_FN>("CryptCATAdminEnumCatalogFromHash");
    api.pfnCryptCATCatalogInfoFromContext =
        Resolve<CryptCATCatalogInfoFromContext_FN>("CryptCATCatalogInfoFromContext");
    api.pfnCryptCATAdminReleaseCatalogContext =
        Resolve<CryptCATAdminReleaseCatalogContext_FN>("CryptCATAdminReleaseCatalogContext");
    api.pfnWinVerifyTrust = Resolve<WinVerifyTrust_FN>("WinVerifyTrust");
    api.pfnWTHelperProvDataFromStateData =
        Resolve<WTHelperProvDataFromStateData_FN>("WTHelperProvDataFromStateData");
    api.pfnWTHelperGetProvCertFromChain =
        Resolve<WTHelperGetProvCertFromChain_FN>("WTHelperGetProvCertFromChain");
    api.pfnWTHelperGetProvSignerFromChain =
        Resolve<WTHelperGetProvSignerFromChain_FN>("WTHelperGetProvSignerFromChain");
}

} // namespace

bool AllTrustEntryPointsResolved() {
    const WinTrustApi& api = g_WinTrustApi;
    return api.pfnCryptCATAdminAcquireContext && api.pfnCryptCATAdminReleaseContext &&
           api.pfnCryptCATAdminCalcHashFromFileHandle && api.pfnCryptCATAdminEnumCatalogFromHash &&
           api.pfnCryptCATCatalogInfoFromContext && api.pfnCryptCATAdminReleaseCatalogContext &&
           api.pfnWinVerifyTrust && api.pfnWTHelperProvDataFromStateData &&
           api.pfnWTHelperGetProvCertFromChain && api.pfnWTHelperGetProvSignerFromChain;
}

bool IsTrustBindingReady() {
    return g_hCatAdmin != nullptr && AllTrustEntryPointsResolved();
}

int BindTrustLibrary() {
    if (g_hWinTrust == nullptr) {
        g_hWinTrust = LoadLibraryW(u"wintrust.dll");
        if (g_hWinTrust == nullptr)
            return VR_LOAD_FAILED;
    }

    if (!AllTrustEntryPointsResolved()) {
        ResolveAllEntryPoints();
        if (!AllTrustEntryPointsResolved())
            return VR_RESOLVE_FAILED;
    }

    if (g_hCatAdmin != nullptr)
        return VR_OK;
    if (!g_WinTrustApi.pfnCryptCATAdminAcquireContext(&g_hCatAdmin, nullptr, 0)) {
        g_hCatAdmin = nullptr;
        return VR_CONTEXT_FAILED;
    }
    return VR_OK;
}

int UnbindTrustLibrary() {
    if (g_hCatAdmin != nullptr) {
        // A held context implies resolved slots, so the release entry point is there.
        if (!g_WinTrustApi.pfnCryptCATAdminReleaseContext(g_hCatAdmin, 0))
            return VR_RELEASE_FAILED;
        g_hCatAdmin = nullptr;
    }

    g_WinTrustApi = {};

    if (g_hWinTrust != nullptr) {
        if (!FreeLibrary(g_hWinTrust))
            return VR_UNLOAD_FAILED;
        g_hWinTrust = nullptr;
    }
    return VR_OK;
}
