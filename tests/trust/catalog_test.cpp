// Catalog look-up and member verification through the real library, with the fixtures'
// Windows folder as WINDIR.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>

#include "platform/kernel/file_api.h"
#include "platform/kernel/kernel_object.h"
#include "tests/trust/trust_test_support.h"

namespace trust_test {
namespace {

const char kSystemCatalogs[] = "System32/CatRoot/{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";

// The hash the program computes for a file: 100-byte buffer, the length out.
std::vector<BYTE> CatalogHash(const std::filesystem::path& path) {
    const std::u16string dos = DosPath(path);
    HANDLE file = CreateFileW(dos.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    BYTE hash[100] = {};
    DWORD length = sizeof hash;
    const BOOL ok = Api().CalcHashFromFileHandle(file, &length, hash, 0);
    CloseHandle(file);
    if (!ok || length > sizeof hash)
        return {};
    return {hash, hash + length};
}

std::u16string TagOf(const std::vector<BYTE>& hash) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string tag;
    for (BYTE b : hash) {
        tag += kHex[b >> 4];
        tag += kHex[b & 15];
    }
    return tag;
}

// The file name of a DOS path (the catalog path comes back as one: "X:\\...").
std::string DosFileName(const WCHAR* dosPath) {
    const std::u16string path(dosPath);
    if (path.size() < 3 || path[1] != u':' || path[2] != u'\\')
        return "<not a DOS path>";
    return std::filesystem::path(path.substr(path.rfind(u'\\') + 1)).string();
}

// The catalog the look-up returns first, as a Linux file name; nullopt for none.
std::optional<std::string> FirstCatalog(std::vector<BYTE> hash) {
    const auto& api = Api();
    HCATADMIN admin = nullptr;
    if (!api.AcquireContext(&admin, nullptr, 0))
        return "<no context>";
    std::optional<std::string> found;
    if (HCATINFO catalog = api.EnumCatalogFromHash(admin, hash.data(), static_cast<DWORD>(hash.size()), 0, nullptr)) {
        CATALOG_INFO info{};
        info.cbStruct = sizeof info;
        if (api.CatalogInfoFromContext(catalog, &info, 0))
            found = DosFileName(info.wszCatalogFile);
        else
            found = "<no path>";
        api.ReleaseCatalogContext(admin, catalog, 0);
    }
    api.ReleaseContext(admin, 0);
    return found;
}

// The program's whole catalog path for one file: hash, look-up, member check.
struct CatalogVerdict {
    std::optional<std::string> catalog;
    LONG status = -1;
    std::string signerCn;
};

CatalogVerdict VerifyThroughCatalog(const std::filesystem::path& file) {
    CatalogVerdict verdict;
    const auto hash = CatalogHash(file);
    const auto& api = Api();
    HCATADMIN admin = nullptr;
    if (hash.empty() || !api.AcquireContext(&admin, nullptr, 0))
        return verdict;
    if (HCATINFO catalog = api.EnumCatalogFromHash(admin, const_cast<BYTE*>(hash.data()),
                                                   static_cast<DWORD>(hash.size()), 0, nullptr)) {
        CATALOG_INFO info{};
        info.cbStruct = sizeof info;
        api.CatalogInfoFromContext(catalog, &info, 0);
        verdict.catalog = DosFileName(info.wszCatalogFile);
        const EmbeddedResult result = VerifyCatalogMember(info.wszCatalogFile, TagOf(hash), DosPath(file));
        verdict.status = result.status;
        if (!result.chainCommonNames.empty())
            verdict.signerCn = result.chainCommonNames.front();
        api.ReleaseCatalogContext(admin, catalog, 0);
    }
    api.ReleaseContext(admin, 0);
    return verdict;
}

TEST(Catalogs, EachFileIsFoundInItsFirstCatalogAndVerifiedAsAMember) {
    struct Case {
        const char* file;
        const char* catalog;  // nullptr: no catalog lists it
    };
    const Case kCases[] = {
        {"pe/catalogued.exe", "a-first.cat"},
        {"pe/catalogued.dll", "b-second.cat"},        // version 1 catalog, UTF-16 hex tags
        {"pe/catalogued-twice.exe", "a-first.cat"},   // in both: the first by name
        {"pe/catalogued-flat.txt", "a-first.cat"},    // not a PE image: its flat hash
        {"pe/catalogued-changed.exe", nullptr},       // one byte changed: no longer listed
        {"pe/unsigned-pe32.exe", nullptr},            // listed only in another subsystem's folder
        {"pe/signed-pe32-sha256.exe", nullptr},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.file);
        const CatalogVerdict verdict = VerifyThroughCatalog(Fixture(c.file));
        if (!c.catalog) {
            EXPECT_FALSE(verdict.catalog.has_value()) << *verdict.catalog;
            continue;
        }
        ASSERT_TRUE(verdict.catalog.has_value());
        EXPECT_EQ(*verdict.catalog, c.catalog);
        EXPECT_EQ(verdict.status, 0) << std::hex << static_cast<unsigned>(verdict.status);
        EXPECT_EQ(verdict.signerCn, "Velmora Catalog Signer");
    }
}

TEST(Catalogs, MemberCheckRecomputesTheFileAndRefusesAChangedOneOrAnUnlistedTag) {
    const auto catalogs = Fixture("windows") / kSystemCatalogs;
    const std::u16string catalog = DosPath(catalogs / "a-first.cat");
    const std::u16string tag = TagOf(CatalogHash(Fixture("pe/catalogued.exe")));
    ASSERT_EQ(tag.size(), 40u);
    std::u16string lowerTag = tag;
    for (auto& c : lowerTag)
        c = c >= u'A' && c <= u'F' ? static_cast<char16_t>(c - u'A' + u'a') : c;

    struct Case {
        const char* name;
        std::u16string catalog, tag, member;
        bool trusted;
    };
    const Case kCases[] = {
        {"the listed file", catalog, tag, DosPath(Fixture("pe/catalogued.exe")), true},
        {"tags match without regard to case", catalog, lowerTag, DosPath(Fixture("pe/catalogued.exe")), true},
        {"the same file changed by one byte", catalog, tag, DosPath(Fixture("pe/catalogued-changed.exe")), false},
        {"another file under the listed tag", catalog, tag, DosPath(Fixture("pe/catalogued-twice.exe")), false},
        {"a tag the catalog does not list", catalog, std::u16string(40, u'0'), DosPath(Fixture("pe/catalogued.exe")),
         false},
        {"a corrupt catalog", DosPath(catalogs / "corrupt.cat"), tag, DosPath(Fixture("pe/catalogued.exe")), false},
        {"a missing catalog", DosPath(catalogs / "none.cat"), tag, DosPath(Fixture("pe/catalogued.exe")), false},
        {"a missing member file", catalog, tag, DosPath(Fixture("pe/none.exe")), false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const EmbeddedResult result = VerifyCatalogMember(c.catalog, c.tag, c.member);
        if (c.trusted)
            EXPECT_EQ(result.status, 0) << std::hex << static_cast<unsigned>(result.status);
        else
            EXPECT_LT(result.status, 0);
        EXPECT_TRUE(result.stateAfterVerify);
        EXPECT_TRUE(result.stateClearedByClose);
    }
}

TEST(Catalogs, HashLengthProtocolNeverWritesPastTheGivenCapacity) {
    const std::u16string path = DosPath(Fixture("pe/catalogued.exe"));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    BYTE buffer[100];
    std::fill(std::begin(buffer), std::end(buffer), 0xCC);
    DWORD length = 19;
    SetLastError(0);
    EXPECT_FALSE(Api().CalcHashFromFileHandle(file, &length, buffer, 0));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 20u);
    EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer), [](BYTE b) { return b == 0xCC; }));

    length = 100;
    EXPECT_TRUE(Api().CalcHashFromFileHandle(file, &length, buffer, 0));
    EXPECT_EQ(length, 20u);
    EXPECT_TRUE(std::all_of(buffer + 20, std::end(buffer), [](BYTE b) { return b == 0xCC; }));
    CloseHandle(file);

    length = 100;
    EXPECT_FALSE(Api().CalcHashFromFileHandle(INVALID_HANDLE_VALUE, &length, buffer, 0));
    EXPECT_FALSE(Api().CalcHashFromFileHandle(nullptr, &length, buffer, 0));
}

// WINDIR is read when a context first looks something up, so each case sets it first.
class CatalogFolder : public ::testing::Test {
protected:
    void SetUp() override {
        Api();  // sets the fixtures' WINDIR first
        m_saved = std::getenv("WINDIR") ? std::getenv("WINDIR") : "";
    }
    void TearDown() override { setenv("WINDIR", m_saved.c_str(), 1); }
    std::string m_saved;
};

TEST_F(CatalogFolder, EmptyOrMissingFoldersFindNothingAndCorruptCatalogsAreSkipped) {
    const auto hash = CatalogHash(Fixture("pe/catalogued.exe"));
    ASSERT_EQ(hash.size(), 20u);
    const auto catalogs = Fixture("windows") / kSystemCatalogs;

    const auto missing = ScratchFolder("missing");
    setenv("WINDIR", missing.c_str(), 1);
    EXPECT_FALSE(FirstCatalog(hash).has_value());

    const auto empty = ScratchFolder("empty");
    std::filesystem::create_directories(empty / kSystemCatalogs);
    setenv("WINDIR", empty.c_str(), 1);
    EXPECT_FALSE(FirstCatalog(hash).has_value());

    // Damaged catalogs and things that are not files sort first and are passed over; a FIFO
    // must not block the index.
    const auto hostile = ScratchFolder("hostile");
    const auto folder = hostile / kSystemCatalogs;
    std::filesystem::create_directories(folder);
    WriteFile(folder / "0-empty.cat", {});
    WriteFile(folder / "1-garbage.cat", std::vector<unsigned char>(4096, 0x30));
    const auto good = ReadFile(catalogs / "a-first.cat");
    WriteFile(folder / "2-truncated.cat", std::vector<unsigned char>(good.begin(), good.begin() + good.size() / 2));
    ASSERT_EQ(mkfifo((folder / "3-fifo.cat").c_str(), 0600), 0);
    std::filesystem::create_directory(folder / "4-folder.cat");
    std::filesystem::copy_file(catalogs / "a-first.cat", folder / "9-GOOD.CAT");
    std::filesystem::copy_file(catalogs / "a-first.cat", folder / "9-good.txt");
    setenv("WINDIR", hostile.c_str(), 1);
    EXPECT_EQ(FirstCatalog(hash), std::optional<std::string>("9-GOOD.CAT"));
}

TEST(Catalogs, ContextAcceptsOnlyTheSystemCatalogSubsystem) {
    const auto& api = Api();
    HCATADMIN admin = nullptr;
    EXPECT_TRUE(api.AcquireContext(&admin, &DRIVER_ACTION_VERIFY, 0));
    EXPECT_TRUE(api.ReleaseContext(admin, 0));
    GUID other = DRIVER_ACTION_VERIFY;
    other.Data1 ^= 1;
    EXPECT_FALSE(api.AcquireContext(&admin, &other, 0));
    EXPECT_FALSE(api.AcquireContext(nullptr, nullptr, 0));
    EXPECT_FALSE(api.ReleaseContext(nullptr, 0));
}

// A scan worker that was asked to stop may still hold the context handle when the dialog
// releases it at close. A look-up racing the release, or arriving after it, is refused or
// finishes on an index that stays valid, and the handle is never freed memory.
TEST(Catalogs, AReleasedContextRefusesLateCallsAndSurvivesAConcurrentRelease) {
    const auto& api = Api();
    const auto hash = CatalogHash(Fixture("pe/catalogued.exe"));
    ASSERT_FALSE(hash.empty());

    HCATADMIN admin = nullptr;
    ASSERT_TRUE(api.AcquireContext(&admin, nullptr, 0));
    ASSERT_TRUE(api.ReleaseContext(admin, 0));
    BYTE copy[100];
    std::copy(hash.begin(), hash.end(), copy);
    EXPECT_EQ(api.EnumCatalogFromHash(admin, copy, static_cast<DWORD>(hash.size()), 0, nullptr), nullptr);
    EXPECT_FALSE(api.ReleaseContext(admin, 0)) << "released once only";

    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(api.AcquireContext(&admin, nullptr, 0));
        std::thread lookUp([&] {
            BYTE mine[100];
            std::copy(hash.begin(), hash.end(), mine);
            if (HCATINFO found = api.EnumCatalogFromHash(admin, mine, static_cast<DWORD>(hash.size()), 0, nullptr))
                api.ReleaseCatalogContext(admin, found, 0);
        });
        api.ReleaseContext(admin, 0);
        lookUp.join();
    }
}

}  // namespace
}  // namespace trust_test
