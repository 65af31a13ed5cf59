#include "verify/file_verification.h"

#include <cstring>

#include "platform/kernel/file_api.h"
#include "platform/kernel/kernel_object.h"
#include "platform/trust/wincrypt.h"
#include "platform/trust/wintrust.h"
#include "verify/result_codes.h"
#include "verify/signer_name.h"
#include "verify/trust_binding.h"

namespace {

// The records go out with their sizes in the 32-bit layout, the data record without its
// signature-settings member and the catalog record without its administrator member: that is
// what the trust library expects of a caller of this generation.
constexpr DWORD WINTRUST_DATA_SIZE = 48;
constexpr DWORD WINTRUST_FILE_INFO_SIZE = 16;
constexpr DWORD WINTRUST_CATALOG_INFO_SIZE = 36;

constexpr DWORD HASH_CAPACITY = 100;
constexpr DWORD NAME_CAPACITY = 4096;

HWND NoInteractiveUser() {
    return reinterpret_cast<HWND>(INVALID_HANDLE_VALUE);
}

void FillCommonFields(WINTRUST_DATA& data) {
    data = {};
    data.cbStruct = WINTRUST_DATA_SIZE;
    data.pPolicyCallbackData = nullptr;
    data.pSIPClientData = nullptr;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.hWVTStateData = nullptr;
    data.pwszURLReference = nullptr;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    data.dwUIContext = 0;
}

// Ends the verification state of a verify call in the same record; its result does not matter.
void CloseVerificationState(const WinTrustApi& api, WINTRUST_DATA& data) {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    api.pfnWinVerifyTrust(NoInteractiveUser(), &action, &data);
}

LONG VerifyCall(const WinTrustApi& api, WINTRUST_DATA& data) {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return api.pfnWinVerifyTrust(NoInteractiveUser(), &action, &data);
}

// Runs while the verification state is still open.
int ObtainSignerName(const WinTrustApi& api, HANDLE hStateData) {
    CRYPT_PROVIDER_DATA* provider = api.pfnWTHelperProvDataFromStateData(hStateData);
    if (provider == nullptr)
        return VR_NO_SIGNER_NAME;
    CRYPT_PROVIDER_SGNR* signer = api.pfnWTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (signer == nullptr)
        return VR_NO_SIGNER_NAME;
    // The chain starts with the signing certificate itself.
    if (signer->csCertChain == 0 || signer->pasCertChain == nullptr)
        return VR_NO_SIGNER_NAME;
    PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
    if (certificate == nullptr || certificate->pCertInfo == nullptr)
        return VR_NO_SIGNER_NAME;

    WCHAR name[NAME_CAPACITY];
    name[0] = u'\0';
    CertNameToStrW(X509_ASN_ENCODING, &certificate->pCertInfo->Subject, CERT_X500_NAME_STR, name,
                   NAME_CAPACITY);
    name[NAME_CAPACITY - 1] = u'\0'; // whatever the formatter did, the extraction reads a terminated string
    return ExtractSignerName(name);
}

void AppendHexByte(WCHAR* out, BYTE value) {
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    out[0] = digits[value >> 4];
    out[1] = digits[value & 0x0F];
}

} // namespace

int VerifyFileSignature(LPCWSTR pszFilePath) {
    if (!IsTrustBindingReady())
        return VR_NOT_READY;
    // One look at the binding for the whole verification. A worker that was stopped while inside
    // a verification may still be finishing it when the dialog unbinds at close; with its own copy
    // it never calls through a slot that has just been cleared.
    const WinTrustApi api = g_WinTrustApi;
    const HCATADMIN hCatAdmin = g_hCatAdmin;
    // No path is no file: it cannot be opened, let alone trusted.
    if (pszFilePath == nullptr)
        return VR_OPEN_FAILED;

    // The embedded signature.
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = WINTRUST_FILE_INFO_SIZE;
    fileInfo.pcwszFilePath = pszFilePath;
    fileInfo.hFile = nullptr;
    fileInfo.pgKnownSubject = nullptr;

    WINTRUST_DATA data;
    FillCommonFields(data);
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;

    if (VerifyCall(api, data) >= 0) {
        // Trusted through the embedded signature: the catalogs are not consulted, whatever
        // becomes of the name.
        const int result = ObtainSignerName(api, data.hWVTStateData);
        CloseVerificationState(api, data);
        return result;
    }
    CloseVerificationState(api, data);

    // The catalog hash. The file is opened only on this path, and only once.
    HANDLE hFile =
        CreateFileW(pszFilePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return VR_OPEN_FAILED;
    BYTE hash[HASH_CAPACITY];
    std::memset(hash, 0, sizeof hash);
    DWORD cbHash = HASH_CAPACITY;
    const BOOL hashed = api.pfnCryptCATAdminCalcHashFromFileHandle(hFile, &cbHash, hash, 0);
    CloseHandle(hFile);

    // A hash that was not computed, or a length the buffer cannot hold, identifies nothing: the
    // file is one that no catalog lists, and no byte beyond the buffer is ever looked at.
    if (!hashed || cbHash == 0 || cbHash > HASH_CAPACITY)
        return VR_NOT_TRUSTED;

    HCATINFO hCatalog =
        api.pfnCryptCATAdminEnumCatalogFromHash(hCatAdmin, hash, cbHash, 0, nullptr);
    if (hCatalog == nullptr)
        return VR_NOT_TRUSTED;

    CATALOG_INFO catalogInfo;
    std::memset(&catalogInfo, 0, sizeof catalogInfo);
    catalogInfo.cbStruct = sizeof catalogInfo;

    // The member tag is the hash in upper-case hex. Its length is bounded by the hash buffer, so
    // it lives on the stack and its storage cannot fail to be obtained.
    WCHAR memberTag[2 * HASH_CAPACITY + 1];
    for (DWORD i = 0; i < cbHash; ++i)
        AppendHexByte(memberTag + 2 * i, hash[i]);
    memberTag[2 * cbHash] = u'\0';

    api.pfnCryptCATCatalogInfoFromContext(hCatalog, &catalogInfo, 0);
    catalogInfo.wszCatalogFile[MAX_PATH - 1] = u'\0';

    WINTRUST_CATALOG_INFO catalogMember = {};
    catalogMember.cbStruct = WINTRUST_CATALOG_INFO_SIZE;
    catalogMember.dwCatalogVersion = 0;
    catalogMember.pcwszCatalogFilePath = catalogInfo.wszCatalogFile;
    catalogMember.pcwszMemberTag = memberTag;
    catalogMember.pcwszMemberFilePath = pszFilePath;
    catalogMember.hMemberFile = nullptr;
    catalogMember.pbCalculatedFileHash = nullptr;
    catalogMember.cbCalculatedFileHash = 0;
    catalogMember.pcCatalogContext = nullptr;

    FillCommonFields(data);
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &catalogMember;

    int result = VR_NOT_TRUSTED;
    if (VerifyCall(api, data) >= 0)
        result = ObtainSignerName(api, data.hWVTStateData);
    CloseVerificationState(api, data);

    api.pfnCryptCATAdminReleaseCatalogContext(hCatAdmin, hCatalog, 0);
    return result;
}
