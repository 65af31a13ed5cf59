// Verification against the real trust library and the generated fixtures: a signed file, an
// unsigned one, a catalogued one, a tampered one, and the kinds of bad input a walk meets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/kernel/dos_paths.h"
#include "tests/kernel/held_for_writing.h"
#include "platform/kernel/wide_text.h"
#include "verify/file_verification.h"
#include "verify/result_codes.h"
#include "verify/signer_name.h"
#include "verify/trust_binding.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = VELMORA_FIXTURES_DIR;

// The program's own folder, where the trust library is built.
fs::path TrustLibraryFile() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "libwintrust.so";
}

// The system hands DOS paths to the verification.
std::u16string DosPath(const fs::path& path) {
    const CString dos = velmora::kernel::LinuxPathToDos(path.string());
    return std::u16string(dos.GetString());
}

class RealTrust : public ::testing::Test {
  protected:
    // The fixtures' test root is the only extra anchor, and their fake Windows folder holds the
    // system catalogs. Set here rather than by the test runner, so the program runs the same by hand.
    static void SetUpTestSuite() {
        setenv("VELMORA_TRUST_ANCHORS", (kFixtures / "pki" / "root-ca.pem").c_str(), 1);
        setenv("WINDIR", (kFixtures / "windows").c_str(), 1);
    }

    void SetUp() override {
        if (!fs::exists(TrustLibraryFile()))
            GTEST_SKIP() << "the trust library is not built: " << TrustLibraryFile();
        if (!fs::exists(kFixtures / "pe" / "signed-pe32-sha256.exe"))
            GTEST_SKIP() << "the fixtures are not generated: " << kFixtures;
        ASSERT_EQ(BindTrustLibrary(), VR_OK);
        m_folder = fs::temp_directory_path() / ("verify-real-" + std::to_string(getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        EXPECT_EQ(UnbindTrustLibrary(), VR_OK);
        if (!m_folder.empty())
            fs::remove_all(m_folder);
    }

    int Verify(const fs::path& file) {
        g_szSignerName[0] = u'\0';
        const std::u16string path = DosPath(file);
        return VerifyFileSignature(path.c_str());
    }

    fs::path m_folder;
};

TEST_F(RealTrust, FixturesGiveTheirVerdictAndSignerName) {
    struct FixtureCase {
        const char* file;
        int result;
        const char16_t* signer;
    };
    const FixtureCase cases[] = {
        {"pe/signed-pe32-sha256.exe", VR_OK, u"Velmora Test Signer"},
        {"pe/unsigned-pe32.exe", VR_NOT_TRUSTED, u""},
        {"pe/catalogued.exe", VR_OK, u"Velmora Catalog Signer"},
        {"pe/tampered-section-1.exe", VR_NOT_TRUSTED, u""},
        // Large enough to be hashed from reads of the file: whole, changed, and through a catalog.
        {"pe/signed-large.exe", VR_OK, u"Velmora Test Signer"},
        {"pe/tampered-large-overlay.exe", VR_NOT_TRUSTED, u""},
        {"pe/catalogued-large.exe", VR_OK, u"Velmora Catalog Signer"},
    };
    for (const FixtureCase& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(Verify(kFixtures / c.file), c.result);
        EXPECT_EQ(std::u16string(g_szSignerName), c.signer);
    }
}

TEST_F(RealTrust, BadInputIsAFailureCodeNeverTrusted) {
    const fs::path empty = m_folder / "empty.exe";
    std::ofstream(empty, std::ios::binary).close();
    struct BadCase {
        const char* label;
        fs::path path;
        int result;
    };
    const BadCase cases[] = {
        {"nonexistent", m_folder / "missing.exe", VR_OPEN_FAILED},
        {"directory", m_folder, VR_OPEN_FAILED},
        {"empty file", empty, VR_NOT_TRUSTED},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Verify(c.path), c.result);
        EXPECT_EQ(std::u16string(g_szSignerName), u"");
    }
}

TEST_F(RealTrust, AnUnsignedFileHeldOpenForWritingGivesOpenFailed) {
    const fs::path copy = m_folder / "held.exe";
    fs::copy_file(kFixtures / "pe" / "unsigned-pe32.exe", copy);
    HeldForWriting writer;
    ASSERT_NO_FATAL_FAILURE(writer.Hold(copy));
    EXPECT_EQ(Verify(copy), VR_OPEN_FAILED);
    writer.Release();
    EXPECT_EQ(Verify(copy), VR_NOT_TRUSTED) << "once the writer is gone";
}

} // namespace
