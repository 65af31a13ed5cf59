// The trust library's records and exports, declared for our own "wintrust.dll". The system code
// never links these functions: it looks each one up by name (see the *_FN types below).
#pragma once

#include "platform/kernel/win_types.h"
#include "platform/trust/wincrypt.h"

using HCATADMIN = HANDLE;
using HCATINFO = HANDLE;

// {00AAC56B-CD44-11D0-8CC2-00C04FC295EE}
inline constexpr GUID WINTRUST_ACTION_GENERIC_VERIFY_V2 = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
// {F750E6C3-38EE-11D1-85E5-00C04FC295EE}: the subsystem of the system catalogs.
inline constexpr GUID DRIVER_ACTION_VERIFY = {
    0xF750E6C3, 0x38EE, 0x11D1, {0x85, 0xE5, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

struct WINTRUST_FILE_INFO {
    DWORD cbStruct;
    LPCWSTR pcwszFilePath;
    HANDLE hFile;
    GUID* pgKnownSubject;
};

struct WINTRUST_CATALOG_INFO {
    DWORD cbStruct;
    DWORD dwCatalogVersion;
    LPCWSTR pcwszCatalogFilePath;
    LPCWSTR pcwszMemberTag;
    LPCWSTR pcwszMemberFilePath;
    HANDLE hMemberFile;
    BYTE* pbCalculatedFileHash;
    DWORD cbCalculatedFileHash;
    PCCERT_CONTEXT pcCatalogContext;
};

struct WINTRUST_DATA {
    DWORD cbStruct;
    LPVOID pPolicyCallbackData;
    LPVOID pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    union {
        WINTRUST_FILE_INFO* pFile;
        WINTRUST_CATALOG_INFO* pCatalog;
        void* pBlob;
    };
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    WCHAR* pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
};

constexpr DWORD WTD_UI_ALL = 1;
constexpr DWORD WTD_UI_NONE = 2;
constexpr DWORD WTD_REVOKE_NONE = 0;
constexpr DWORD WTD_CHOICE_FILE = 1;
constexpr DWORD WTD_CHOICE_CATALOG = 2;
constexpr DWORD WTD_STATEACTION_IGNORE = 0;
constexpr DWORD WTD_STATEACTION_VERIFY = 1;
constexpr DWORD WTD_STATEACTION_CLOSE = 2;
constexpr DWORD WTD_REVOCATION_CHECK_NONE = 0x10;

struct CATALOG_INFO {
    DWORD cbStruct;
    WCHAR wszCatalogFile[MAX_PATH];
};

struct CRYPT_PROVIDER_CERT {
    DWORD cbStruct;
    PCCERT_CONTEXT pCert;
    BOOL fCommercial;
    BOOL fTrustedRoot;
    BOOL fSelfSigned;
    DWORD dwError;
};

struct CRYPT_PROVIDER_SGNR {
    DWORD cbStruct;
    FILETIME sftVerifyAsOf;
    DWORD csCertChain;
    CRYPT_PROVIDER_CERT* pasCertChain;
    DWORD dwSignerType;
    DWORD dwError;
    DWORD csCounterSigners;
    CRYPT_PROVIDER_SGNR* pasCounterSigners;
};

struct CRYPT_PROVIDER_DATA {
    DWORD cbStruct;
    WINTRUST_DATA* pWintrustData;
    DWORD dwError;
    DWORD csSigners;
    CRYPT_PROVIDER_SGNR* pasSigners;
};

// Statuses WinVerifyTrust returns (as negative LONGs).
constexpr LONG TRUST_E_PROVIDER_UNKNOWN = static_cast<LONG>(0x800B0001);
constexpr LONG TRUST_E_ACTION_UNKNOWN = static_cast<LONG>(0x800B0002);
constexpr LONG TRUST_E_SUBJECT_FORM_UNKNOWN = static_cast<LONG>(0x800B0003);
constexpr LONG TRUST_E_NOSIGNATURE = static_cast<LONG>(0x800B0100);
constexpr LONG CERT_E_EXPIRED = static_cast<LONG>(0x800B0101);
constexpr LONG CERT_E_UNTRUSTEDROOT = static_cast<LONG>(0x800B0109);
constexpr LONG CERT_E_CHAINING = static_cast<LONG>(0x800B010A);
constexpr LONG TRUST_E_FAIL = static_cast<LONG>(0x800B010B);
constexpr LONG CERT_E_WRONG_USAGE = static_cast<LONG>(0x800B0110);
constexpr LONG TRUST_E_EXPLICIT_DISTRUST = static_cast<LONG>(0x800B0111);
constexpr LONG TRUST_E_SYSTEM_ERROR = static_cast<LONG>(0x80096001);
constexpr LONG TRUST_E_NO_SIGNER_CERT = static_cast<LONG>(0x80096002);
constexpr LONG TRUST_E_COUNTER_SIGNER = static_cast<LONG>(0x80096003);
constexpr LONG TRUST_E_CERT_SIGNATURE = static_cast<LONG>(0x80096004);
constexpr LONG TRUST_E_TIME_STAMP = static_cast<LONG>(0x80096005);
constexpr LONG TRUST_E_BAD_DIGEST = static_cast<LONG>(0x80096010);
constexpr LONG CRYPT_E_FILE_ERROR = static_cast<LONG>(0x80092003);
constexpr LONG CRYPT_E_BAD_MSG = static_cast<LONG>(0x8009200D);
constexpr LONG CRYPT_E_SECURITY_SETTINGS = static_cast<LONG>(0x80092026);
constexpr LONG E_INVALIDARG = static_cast<LONG>(0x80070057);

// The ten exports, in the order the binding resolves them.
extern "C" {
BOOL CryptCATAdminAcquireContext(HCATADMIN* phCatAdmin, const GUID* pgSubsystem, DWORD dwFlags);
BOOL CryptCATAdminReleaseContext(HCATADMIN hCatAdmin, DWORD dwFlags);
BOOL CryptCATAdminCalcHashFromFileHandle(HANDLE hFile, DWORD* pcbHash, BYTE* pbHash, DWORD dwFlags);
HCATINFO CryptCATAdminEnumCatalogFromHash(HCATADMIN hCatAdmin, BYTE* pbHash, DWORD cbHash, DWORD dwFlags,
                                          HCATINFO* phPrevCatInfo);
BOOL CryptCATCatalogInfoFromContext(HCATINFO hCatInfo, CATALOG_INFO* psCatInfo, DWORD dwFlags);
BOOL CryptCATAdminReleaseCatalogContext(HCATADMIN hCatAdmin, HCATINFO hCatInfo, DWORD dwFlags);
LONG WinVerifyTrust(HWND hwnd, GUID* pgActionID, LPVOID pWVTData);
CRYPT_PROVIDER_DATA* WTHelperProvDataFromStateData(HANDLE hStateData);
CRYPT_PROVIDER_CERT* WTHelperGetProvCertFromChain(CRYPT_PROVIDER_SGNR* pSgnr, DWORD idxCert);
CRYPT_PROVIDER_SGNR* WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* pProvData, DWORD idxSigner,
                                                    BOOL fCounterSigner, DWORD idxCounterSigner);
}

using CryptCATAdminAcquireContext_FN = decltype(&CryptCATAdminAcquireContext);
using CryptCATAdminReleaseContext_FN = decltype(&CryptCATAdminReleaseContext);
using CryptCATAdminCalcHashFromFileHandle_FN = decltype(&CryptCATAdminCalcHashFromFileHandle);
using CryptCATAdminEnumCatalogFromHash_FN = decltype(&CryptCATAdminEnumCatalogFromHash);
using CryptCATCatalogInfoFromContext_FN = decltype(&CryptCATCatalogInfoFromContext);
using CryptCATAdminReleaseCatalogContext_FN = decltype(&CryptCATAdminReleaseCatalogContext);
using WinVerifyTrust_FN = decltype(&WinVerifyTrust);
using WTHelperProvDataFromStateData_FN = decltype(&WTHelperProvDataFromStateData);
using WTHelperGetProvCertFromChain_FN = decltype(&WTHelperGetProvCertFromChain);
using WTHelperGetProvSignerFromChain_FN = decltype(&WTHelperGetProvSignerFromChain);
