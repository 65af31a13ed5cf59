// The process-wide binding to the trust library "wintrust.dll": its module handle, a catalog
// administrator context and ten entry points looked up by name. Nothing of the library is linked
// into the program.
//
// Binding and unbinding run on the dialog's thread, before any scan starts and after the scan
// worker has ended; verifying threads only read this state, so no lock guards it.
#pragma once

#include "platform/kernel/win_types.h"
#include "platform/trust/wintrust.h"

// The ten entry points, in the order they are resolved. Each slot is null until resolved.
struct WinTrustApi {
    CryptCATAdminAcquireContext_FN pfnCryptCATAdminAcquireContext;
    CryptCATAdminReleaseContext_FN pfnCryptCATAdminReleaseContext;
    CryptCATAdminCalcHashFromFileHandle_FN pfnCryptCATAdminCalcHashFromFileHandle;
    CryptCATAdminEnumCatalogFromHash_FN pfnCryptCATAdminEnumCatalogFromHash;
    CryptCATCatalogInfoFromContext_FN pfnCryptCATCatalogInfoFromContext;
    CryptCATAdminReleaseCatalogContext_FN pfnCryptCATAdminReleaseCatalogContext;
    WinVerifyTrust_FN pfnWinVerifyTrust;
    WTHelperProvDataFromStateData_FN pfnWTHelperProvDataFromStateData;
    // Never called, but a binding without it is not complete.
    WTHelperGetProvCertFromChain_FN pfnWTHelperGetProvCertFromChain;
    WTHelperGetProvSignerFromChain_FN pfnWTHelperGetProvSignerFromChain;
};

extern HMODULE g_hWinTrust;
extern HCATADMIN g_hCatAdmin;
extern WinTrustApi g_WinTrustApi;

// Loads, resolves and acquires whatever is still missing. VR_OK, VR_LOAD_FAILED,
// VR_RESOLVE_FAILED or VR_CONTEXT_FAILED; what earlier steps established stays.
int BindTrustLibrary();
// Releases the context, clears the slots and frees the library. VR_OK, VR_RELEASE_FAILED (nothing
// changed) or VR_UNLOAD_FAILED (context released and slots cleared, library still held).
int UnbindTrustLibrary();

// True when every slot is set.
bool AllTrustEntryPointsResolved();
// True when a verification may run: the context is held and every slot is set.
bool IsTrustBindingReady();
