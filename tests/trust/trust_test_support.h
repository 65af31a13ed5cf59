// Access to the real libwintrust.so for the tests: loaded once with dlopen, exports by name.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/trust/wintrust.h"

namespace trust_test {

struct WinTrustApi {
    CryptCATAdminAcquireContext_FN AcquireContext = nullptr;
    CryptCATAdminReleaseContext_FN ReleaseContext = nullptr;
    CryptCATAdminCalcHashFromFileHandle_FN CalcHashFromFileHandle = nullptr;
    CryptCATAdminEnumCatalogFromHash_FN EnumCatalogFromHash = nullptr;
    CryptCATCatalogInfoFromContext_FN CatalogInfoFromContext = nullptr;
    CryptCATAdminReleaseCatalogContext_FN ReleaseCatalogContext = nullptr;
    WinVerifyTrust_FN VerifyTrust = nullptr;
    WTHelperProvDataFromStateData_FN ProvDataFromStateData = nullptr;
    WTHelperGetProvCertFromChain_FN GetProvCertFromChain = nullptr;
    WTHelperGetProvSignerFromChain_FN GetProvSignerFromChain = nullptr;
};

// The library's exports; the test fails at once when one is missing.
const WinTrustApi& Api();

std::filesystem::path Fixture(const std::string& relative);
// The DOS path the program would pass for a Linux path.
std::u16string DosPath(const std::filesystem::path& path);

std::vector<unsigned char> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);
// A fresh folder under the test's temporary directory.
std::filesystem::path ScratchFolder(const std::string& name);

// One embedded verification as the program makes it (32-bit record sizes, no revocation, no UI).
// The state is closed before returning; the signer chain's subject CNs are reported.
struct EmbeddedResult {
    LONG status = 0;
    bool stateAfterVerify = false;
    bool stateClearedByClose = false;
    std::vector<std::string> chainCommonNames;  // signer first; "" for a subject without CN
};
EmbeddedResult VerifyEmbedded(const std::u16string& dosPath);

// A catalog member verification with the given tag.
EmbeddedResult VerifyCatalogMember(const std::u16string& catalogDosPath, const std::u16string& tag,
                                   const std::u16string& memberDosPath);

// The CN of a DER-encoded X.500 name, "" when it has none.
std::string CommonName(const CERT_NAME_BLOB& name);

}  // namespace trust_test
