#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/kernel/wide_text.h"
#include "tests/verify/fake_trust_fixture.h"
#include "tests/kernel/held_for_writing.h"
#include "verify/file_verification.h"
#include "verify/signer_name.h"

namespace {

namespace fs = std::filesystem;
using Calls = std::vector<std::string>;

constexpr char16_t kSentinel[] = u"(left by the caller)";

class Verification : public FakeTrustTest {
  protected:
    void SetUp() override {
        FakeTrustTest::SetUp();
        m_folder = fs::temp_directory_path() / ("verify-test-" + std::to_string(getpid()));
        fs::create_directories(m_folder);
        m_file = m_folder / "program.exe";
        std::ofstream(m_file, std::ios::binary) << std::string(1234, 'x');
        m_path = Utf8ToUtf16(m_file.string());
        BindReady();
        SetSignerName(kSentinel);
    }
    void TearDown() override {
        FakeTrustTest::TearDown();
        fs::remove_all(m_folder);
    }

    static void SetSignerName(const std::u16string& text) {
        std::copy(text.begin(), text.end(), g_szSignerName);
        g_szSignerName[text.size()] = u'\0';
    }
    static std::u16string SignerName() { return g_szSignerName; }

    static void SignedBy(const std::string& commonName) {
        fake_trust::CurrentScript().chainSubjects = {
            EncodedName({{"C", "CN"}, {"O", "Velmora"}, {"CN", commonName}}),
            EncodedName({{"CN", "Intermediate"}})};
    }

    fs::path m_folder;
    fs::path m_file;
    std::u16string m_path;
};

TEST_F(Verification, NothingIsTouchedWhileTheBindingIsIncomplete) {
    ASSERT_EQ(UnbindTrustLibrary(), VR_OK);
    fake_trust::Reset();
    EXPECT_EQ(VerifyFileSignature(m_path.c_str()), VR_NOT_READY);
    EXPECT_EQ(fake_trust::Log(), Calls{});
    EXPECT_EQ(SignerName(), kSentinel);
}

TEST_F(Verification, EmbeddedPathPassesTheRecordsAndClosesItsState) {
    SignedBy("Velmora Test Signer");
    fake_trust::CurrentScript().embeddedResult = 0;
    EXPECT_EQ(VerifyFileSignature(m_path.c_str()), VR_OK);
    EXPECT_EQ(SignerName(), u"Velmora Test Signer");

    const std::string data = "cbStruct=48 policy=null sip=null ui=2 revoke=0 choice=1";
    const std::string tail = "url=null provFlags=16 uiContext=0 | file cbStruct=16 path='" + m_file.string() +
                             "' hFile=null known=null";
    const std::string head = "hwnd=invalid-handle-value action=generic-verify-v2 ";
    const Calls expected = {
        "WinVerifyTrust verify " + head + data + " state=null " + tail + " -> 0 state#1",
        "WTHelperProvDataFromStateData state#1 -> provider",
        "WTHelperGetProvSignerFromChain provider signer=0 counter=FALSE counterIndex=0 -> signer",
        "WinVerifyTrust close " + head + data + " state=state#1 " + tail,
    };
    EXPECT_EQ(fake_trust::Log(), expected);
}

TEST_F(Verification, CatalogPathHashesOnceAndVerifiesAsMemberOfTheFirstCatalog) {
    SignedBy("Velmora Catalog Signer");
    fake_trust::Script& script = fake_trust::CurrentScript();
    script.catalogs = {u"C:\\windows\\system32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\a.cat"};
    script.catalogResult = 0;
    EXPECT_EQ(VerifyFileSignature(m_path.c_str()), VR_OK);
    EXPECT_EQ(SignerName(), u"Velmora Catalog Signer");

    const std::string hex = "00010A0F107F809BA5C3D4E0EFF0FEFF05503CC3"; // leading zeros, upper case
    const std::string head = "hwnd=invalid-handle-value action=generic-verify-v2 ";
    const std::string common = "cbStruct=48 policy=null sip=null ui=2 revoke=0 choice=";
    const std::string fileTail = "url=null provFlags=16 uiContext=0 | file cbStruct=16 path='" +
                                 m_file.string() + "' hFile=null known=null";
    const std::string catalogTail =
        "url=null provFlags=16 uiContext=0 | catalog cbStruct=36 version=0 catalog='" +
        Utf16ToUtf8(script.catalogs[0]) + "' tag='" + hex + "' member='" + m_file.string() +
        "' hMember=null hash=null cbHash=0 context=null";
    const Calls expected = {
        "WinVerifyTrust verify " + head + common + "1 state=null " + fileTail + " -> 0x800b0100 state#1",
        "WinVerifyTrust close " + head + common + "1 state=state#1 " + fileTail,
        "CryptCATAdminCalcHashFromFileHandle file=open(size=1234) capacity=100 buffer=zeroed flags=0 -> TRUE "
        "length=20",
        "CryptCATAdminEnumCatalogFromHash admin=admin hash=" + hex +
            " cbHash=20 flags=0 prev=null -> catalog#1",
        "CryptCATCatalogInfoFromContext catalog#1 info=cbStruct=524 file=zeroed flags=0",
        "WinVerifyTrust verify " + head + common + "2 state=null " + catalogTail + " -> 0 state#2",
        "WTHelperProvDataFromStateData state#2 -> provider",
        "WTHelperGetProvSignerFromChain provider signer=0 counter=FALSE counterIndex=0 -> signer",
        "WinVerifyTrust close " + head + common + "2 state=state#2 " + catalogTail,
        "CryptCATAdminReleaseCatalogContext admin=admin catalog#1 flags=0",
    };
    EXPECT_EQ(fake_trust::Log(), expected);
}

TEST_F(Verification, ZeroOrPositiveIsTrustedOnEitherPathNegativeIsNot) {
    struct TrustCase {
        const char* label;
        LONG embedded;
        LONG catalog;
        int result;
    };
    const TrustCase cases[] = {
        {"embedded zero", 0, -1, VR_OK},
        {"embedded positive", 1, -1, VR_OK},
        {"embedded large positive", 0x7FFFFFFF, -1, VR_OK},
        {"catalog positive", TRUST_E_NOSIGNATURE, 5, VR_OK},
        {"both negative", TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, VR_NOT_TRUSTED},
    };
    for (const TrustCase& c : cases) {
        SCOPED_TRACE(c.label);
        fake_trust::Reset();
        SignedBy("Signer");
        fake_trust::CurrentScript().catalogs = {u"C:\\a.cat"};
        fake_trust::CurrentScript().embeddedResult = c.embedded;
        fake_trust::CurrentScript().catalogResult = c.catalog;
        SetSignerName(kSentinel);
        EXPECT_EQ(VerifyFileSignature(m_path.c_str()), c.result);
        EXPECT_EQ(SignerName(), c.result == VR_OK ? u"Signer" : kSentinel);
    }
}

TEST_F(Verification, EveryKindOfEmbeddedFailureFallsBackToTheCatalogs) {
    const LONG failures[] = {
        TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST,           CERT_E_UNTRUSTEDROOT,         CERT_E_EXPIRED,
        CRYPT_E_FILE_ERROR,  TRUST_E_SUBJECT_FORM_UNKNOWN, static_cast<LONG>(0x80000000)};
    for (LONG failure : failures) {
        SCOPED_TRACE(failure);
        fake_trust::Reset();
        fake_trust::CurrentScript().embeddedResult = failure;
        EXPECT_EQ(VerifyFileSignature(m_path.c_str()), VR_NOT_TRUSTED);
        EXPECT_EQ(fake_trust::CallNames(),
                  (Calls{"WinVerifyTrust verify", "WinVerifyTrust close",
                         "CryptCATAdminCalcHashFromFileHandle", "CryptCATAdminEnumCatalogFromHash"}));
        EXPECT_EQ(SignerName(), kSentinel);
    }
}

TEST_F(Verification, ATrustedFileWithoutAUsableNameGivesNoSignerNameAndNoCatalogLookUp) {
    struct NameCase {
        const char* label;
        bool providerData;
        bool signer;
        bool nullCertificate;
        std::vector<std::vector<BYTE>> chain;
        Calls calls;
    };
    const Calls upToSigner = {"WinVerifyTrust verify", "WTHelperProvDataFromStateData",
                              "WTHelperGetProvSignerFromChain", "WinVerifyTrust close"};
    const NameCase cases[] = {
        {"no provider data",
         false,
         true,
         false,
         {EncodedName({{"CN", "x"}})},
         {"WinVerifyTrust verify", "WTHelperProvDataFromStateData", "WinVerifyTrust close"}},
        {"no signer", true, false, false, {EncodedName({{"CN", "x"}})}, upToSigner},
        {"empty chain", true, true, false, {}, upToSigner},
        {"no certificate", true, true, true, {EncodedName({{"CN", "x"}})}, upToSigner},
        {"subject without common name",
         true,
         true,
         false,
         {EncodedName({{"C", "CN"}, {"O", "Org"}})},
         upToSigner},
        {"empty common name", true, true, false, {EncodedName({{"O", "Org"}, {"CN", ""}})}, upToSigner},
        {"empty subject", true, true, false, {EncodedName({})}, upToSigner},
        {"undecodable subject", true, true, false, {{0x30, 0x05, 0x01}}, upToSigner},
    };
    for (const NameCase& c : cases) {
        for (bool throughCatalog : {false, true}) {
            SCOPED_TRACE(std::string(c.label) + (throughCatalog ? " (catalog)" : " (embedded)"));
            fake_trust::Reset();
            fake_trust::Script& script = fake_trust::CurrentScript();
            script.providerData = c.providerData;
            script.signer = c.signer;
            script.nullCertificate = c.nullCertificate;
            script.chainSubjects = c.chain;
            script.embeddedResult = throughCatalog ? TRUST_E_NOSIGNATURE : 0;
            script.catalogResult = 0;
            script.catalogs = {u"C:\\a.cat"};
            EXPECT_EQ(VerifyFileSignature(m_path.c_str()), VR_NO_SIGNER_NAME);
            Calls names = fake_trust::CallNames();
            if (throughCatalog) {
                const Calls before = {"WinVerifyTrust verify", "WinVerifyTrust close",
                                      "CryptCATAdminCalcHashFromFileHandle",
                                      "CryptCATAdminEnumCatalogFromHash", "CryptCATCatalogInfoFromContext"};
                Calls expected = before;
                expected.insert(expected.end(), c.calls.begin(), c.calls.end());
                expected.push_back("CryptCATAdminReleaseCatalogContext");
                EXPECT_EQ(names, expected);
            } else {
                EXPECT_EQ(names, c.calls);
            }
            EXPECT_EQ(SignerName(), kSentinel);
        }
    }
}

TEST_F(Verification, OnlyTheFirstCatalogThatListsTheHashIsTried) {
    fake_trust::Script& script = fake_trust::CurrentScript();
    script.catalogs = {u"C:\\first.cat", u"C:\\second.cat"};
    script.catalogResult = TRUST_E_BAD_DIGEST;
    EXPECT_EQ(VerifyFileSignature(m_path.c_str()), VR_NOT_TRUSTED);
    const Calls names = fake_trust::CallNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "CryptCATAdminEnumCatalogFromHash"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "WinVerifyTrust verify"), 2);
    bool sawFirst = false;
    for (const std::string& entry : fake_trust::Log())
        sawFirst = sawFirst || entry.find("catalog='C:\\first.cat'") != std::string::npos;
    EXPECT_TRUE(sawFirst);
    EXPECT_EQ(fake_trust::Log().back(), "CryptCATAdminReleaseCatalogContext admin=admin catalog#1 flags=0");
}

TEST_F(Verification, AHashThatWasNotComputedOrDoesNotFitTheBufferIsListedNowhere) {
    struct HashCase {
        const char* label;
        BOOL result;
        std::vector<BYTE> hash;
        DWORD reportedLength;
        int verdict;
        std::string tag; // the member tag of the catalog check, when there is one
    };
    const std::vector<BYTE> full(100, 0xAB);
    std::string fullTag;
    for (int i = 0; i < 100; ++i)
        fullTag += "AB";
    const HashCase cases[] = {
        {"computation failed", FALSE, std::vector<BYTE>(20, 1), 0, VR_NOT_TRUSTED, ""},
        {"length above the buffer", TRUE, full, 101, VR_NOT_TRUSTED, ""},
        {"length far above the buffer", TRUE, full, 0xFFFFFFFF, VR_NOT_TRUSTED, ""},
        {"no bytes at all", TRUE, {}, 0, VR_NOT_TRUSTED, ""},
        {"exactly the buffer", TRUE, full, 0, VR_OK, fullTag},
        {"a single byte below 16", TRUE, {0x0C}, 0, VR_OK, "0C"},
    };
    for (const HashCase& c : cases) {
        SCOPED_TRACE(c.label);
        fake_trust::Reset();
        SignedBy("Signer");
        fake_trust::Script& script = fake_trust::CurrentScript();
        script.hashResult = c.result;
        script.hash = c.hash;
        script.reportedHashLength = c.reportedLength;
        script.catalogs = {u"C:\\a.cat"};
        script.catalogResult = 0;
        EXPECT_EQ(VerifyFileSignature(m_path.c_str()), c.verdict);
        const Calls names = fake_trust::CallNames();
        const bool looked = std::count(names.begin(), names.end(), "CryptCATAdminEnumCatalogFromHash") > 0;
        EXPECT_EQ(looked, !c.tag.empty());
        if (!c.tag.empty()) {
            bool sawTag = false;
            for (const std::string& entry : fake_trust::Log())
                sawTag = sawTag || entry.find("tag='" + c.tag + "'") != std::string::npos;
            EXPECT_TRUE(sawTag);
        }
    }
}

TEST_F(Verification, FilesThatCannotBeOpenedForHashingGiveOpenFailed) {
    const fs::path empty = m_folder / "empty.exe";
    std::ofstream(empty, std::ios::binary).close();
    const fs::path vanishing = m_folder / "vanishing.exe";
    std::ofstream(vanishing, std::ios::binary) << "MZ";
    const fs::path fifo = m_folder / "pipe.exe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    struct BadCase {
        const char* label;
        fs::path path;
        bool vanishes;
        int result;
    };
    const BadCase cases[] = {
        {"nonexistent", m_folder / "missing.exe", false, VR_OPEN_FAILED},
        {"directory", m_folder, false, VR_OPEN_FAILED},
        {"named pipe", fifo, false, VR_OPEN_FAILED},
        {"vanishes between the checks", vanishing, true, VR_OPEN_FAILED},
        {"empty file", empty, false, VR_NOT_TRUSTED},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.label);
        fake_trust::Reset();
        if (c.vanishes)
            fake_trust::CurrentScript().removeDuringEmbeddedCheck = c.path.string();
        const std::u16string path = Utf8ToUtf16(c.path.string());
        EXPECT_EQ(VerifyFileSignature(path.c_str()), c.result);
        EXPECT_EQ(SignerName(), kSentinel);
    }

    fake_trust::Reset();
    EXPECT_EQ(VerifyFileSignature(nullptr), VR_OPEN_FAILED);
    EXPECT_EQ(fake_trust::Log(), Calls{});
}

TEST_F(Verification, AFileHeldOpenForWritingElsewhereCannotBeHashed) {
    HeldForWriting writer;
    ASSERT_NO_FATAL_FAILURE(writer.Hold(m_file));

    EXPECT_EQ(VerifyFileSignature(m_path.c_str()), VR_OPEN_FAILED);
    EXPECT_EQ(fake_trust::CallNames(), (Calls{"WinVerifyTrust verify", "WinVerifyTrust close"}));

    writer.Release();

    fake_trust::Reset();
    EXPECT_EQ(VerifyFileSignature(m_path.c_str()), VR_NOT_TRUSTED) << "once the writer is gone";
}

} // namespace
