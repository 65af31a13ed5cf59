#include "tests/trust/trust_test_support.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/kernel/dos_paths.h"

namespace trust_test {

const WinTrustApi& Api() {
    static const WinTrustApi api = [] {
        WinTrustApi a;
        // The test root is the one extra anchor; the fixtures' Windows folder holds the catalogs.
        setenv("VELMORA_TRUST_ANCHORS", Fixture("pki/root-ca.pem").c_str(), 1);
        setenv("WINDIR", Fixture("windows").c_str(), 1);
        void* library = dlopen(VELMORA_WINTRUST_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return a;
        auto bind = [library](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(library, name));
        };
        bind(a.AcquireContext, "CryptCATAdminAcquireContext");
        bind(a.ReleaseContext, "CryptCATAdminReleaseContext");
        bind(a.CalcHashFromFileHandle, "CryptCATAdminCalcHashFromFileHandle");
        bind(a.EnumCatalogFromHash, "CryptCATAdminEnumCatalogFromHash");
        bind(a.CatalogInfoFromContext, "CryptCATCatalogInfoFromContext");
        bind(a.ReleaseCatalogContext, "CryptCATAdminReleaseCatalogContext");
        bind(a.VerifyTrust, "WinVerifyTrust");
        bind(a.ProvDataFromStateData, "WTHelperProvDataFromStateData");
        bind(a.GetProvCertFromChain, "WTHelperGetProvCertFromChain");
        bind(a.GetProvSignerFromChain, "WTHelperGetProvSignerFromChain");
        return a;
    }();
    return api;
}

std::filesystem::path Fixture(const std::string& relative) {
    return std::filesystem::path(VELMORA_FIXTURES_DIR) / relative;
}

std::u16string DosPath(const std::filesystem::path& path) {
    return velmora::kernel::LinuxPathToDos(path.string()).Text();
}

std::vector<unsigned char> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path ScratchFolder(const std::string& name) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    auto folder = std::filesystem::temp_directory_path() / "velmora-trust-tests" /
                  (std::string(test ? test->name() : "none") + "-" + name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::string CommonName(const CERT_NAME_BLOB& name) {
    const unsigned char* p = name.pbData;
    X509_NAME* parsed = d2i_X509_NAME(nullptr, &p, static_cast<long>(name.cbData));
    if (!parsed)
        return "<unparsable>";
    char text[256] = {};
    const int length = X509_NAME_get_text_by_NID(parsed, NID_commonName, text, sizeof text);
    X509_NAME_free(parsed);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

namespace {

EmbeddedResult Run(WINTRUST_DATA& data) {
    const WinTrustApi& api = Api();
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    EmbeddedResult result;
    result.status = api.VerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    result.stateAfterVerify = data.hWVTStateData != nullptr;
    if (CRYPT_PROVIDER_DATA* provider = api.ProvDataFromStateData(data.hWVTStateData)) {
        if (CRYPT_PROVIDER_SGNR* signer = api.GetProvSignerFromChain(provider, 0, FALSE, 0)) {
            for (DWORD i = 0; i < signer->csCertChain; ++i) {
                CRYPT_PROVIDER_CERT* cert = api.GetProvCertFromChain(signer, i);
                result.chainCommonNames.push_back(cert && cert->pCert ? CommonName(cert->pCert->pCertInfo->Subject)
                                                                      : "<missing>");
            }
        }
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    api.VerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    result.stateClearedByClose = data.hWVTStateData == nullptr;
    return result;
}

WINTRUST_DATA ProgramData() {
    WINTRUST_DATA data{};
    data.cbStruct = 48;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    return data;
}

}  // namespace

EmbeddedResult VerifyEmbedded(const std::u16string& dosPath) {
    WINTRUST_FILE_INFO file{};
    file.cbStruct = 16;
    file.pcwszFilePath = dosPath.c_str();
    WINTRUST_DATA data = ProgramData();
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    return Run(data);
}

EmbeddedResult VerifyCatalogMember(const std::u16string& catalogDosPath, const std::u16string& tag,
                                   const std::u16string& memberDosPath) {
    WINTRUST_CATALOG_INFO catalog{};
    catalog.cbStruct = 36;
    catalog.pcwszCatalogFilePath = catalogDosPath.c_str();
    catalog.pcwszMemberTag = tag.c_str();
    catalog.pcwszMemberFilePath = memberDosPath.c_str();
    WINTRUST_DATA data = ProgramData();
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &catalog;
    return Run(data);
}

}  // namespace trust_test
