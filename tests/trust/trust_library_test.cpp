// Embedded signatures through the real library: verdicts, the signer chain in the provider
// state, damaged and hostile files, and agreement with osslsigncode.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include "platform/trust/signature_check.h"
#include "platform/trust/signed_data.h"
#include "tests/trust/trust_test_support.h"

namespace trust_test {
namespace {

constexpr LONG kTrusted = 0;

struct FixtureCase {
    const char* file;
    LONG status;
    const char* signerCn;  // nullptr: no signer expected in the state; "" a signer without CN
};

const FixtureCase kFixtureCases[] = {
    {"pe/unsigned-pe32.exe", TRUST_E_NOSIGNATURE, nullptr},
    {"pe/unsigned-pe32plus.dll", TRUST_E_NOSIGNATURE, nullptr},
    {"pe/unsigned-odd-length.exe", TRUST_E_NOSIGNATURE, nullptr},
    {"pe/signed-pe32-sha256.exe", kTrusted, "Velmora Test Signer"},
    {"pe/signed-pe32plus-sha256.dll", kTrusted, "Velmora Test Signer"},
    {"pe/signed-sha1.exe", kTrusted, "Velmora Test Signer"},
    {"pe/signed-sha384.exe", kTrusted, "Velmora Test Signer"},
    {"pe/signed-sha512.exe", kTrusted, "Velmora Test Signer"},
    {"pe/signed-timestamped.exe", kTrusted, "Velmora Test Signer"},
    {"pe/signed-no-eku.exe", kTrusted, "Velmora No Usage Signer"},
    {"pe/signed-server-auth.exe", CERT_E_WRONG_USAGE, "Velmora Server Only"},
    {"pe/signed-expired.exe", CERT_E_EXPIRED, "Velmora Expired Signer"},
    {"pe/signed-expired-timestamped.exe", kTrusted, "Velmora Expired Signer"},
    {"pe/signed-self-signed.exe", CERT_E_UNTRUSTEDROOT, "Velmora Self-Signed Signer"},
    {"pe/signed-untrusted-root.exe", CERT_E_UNTRUSTEDROOT, "Velmora Untrusted Signer"},
    {"pe/signed-no-intermediate.exe", CERT_E_CHAINING, "Velmora Test Signer"},
    {"pe/signed-no-cn.exe", kTrusted, ""},
    {"pe/dual-signed.exe", kTrusted, "Velmora Test Signer"},
    {"pe/signed-two-entries.exe", kTrusted, "Velmora Test Signer"},
    {"pe/tampered-header.exe", TRUST_E_BAD_DIGEST, nullptr},
    {"pe/tampered-section-1.exe", TRUST_E_BAD_DIGEST, nullptr},
    {"pe/tampered-section-2.exe", TRUST_E_BAD_DIGEST, nullptr},
    {"pe/tampered-overlay.exe", TRUST_E_BAD_DIGEST, nullptr},
    {"pe/tampered-digest.exe", TRUST_E_BAD_DIGEST, nullptr},
    {"pe/tampered-signer-swapped.exe", TRUST_E_BAD_DIGEST, "Velmora No Usage Signer"},
    {"pe/tampered-appended.exe", TRUST_E_BAD_DIGEST, nullptr},
    {"pe/tampered-hidden-in-entry.exe", TRUST_E_NOSIGNATURE, nullptr},
    {"pe/catalogued.exe", TRUST_E_NOSIGNATURE, nullptr},
    {"pe/catalogued-flat.txt", TRUST_E_SUBJECT_FORM_UNKNOWN, nullptr},
};

TEST(EmbeddedSignature, EachFixtureGetsItsStatusAndSignerName) {
    ASSERT_NE(Api().VerifyTrust, nullptr);
    for (const FixtureCase& c : kFixtureCases) {
        SCOPED_TRACE(c.file);
        const EmbeddedResult result = VerifyEmbedded(DosPath(Fixture(c.file)));
        EXPECT_EQ(result.status, c.status) << std::hex << static_cast<unsigned>(result.status);
        EXPECT_TRUE(result.stateAfterVerify) << "every verify leaves a state for the close";
        EXPECT_TRUE(result.stateClearedByClose);
        if (c.signerCn) {
            ASSERT_FALSE(result.chainCommonNames.empty());
            EXPECT_EQ(result.chainCommonNames.front(), c.signerCn);
        } else if (c.status == kTrusted) {
            ADD_FAILURE() << "a trusted file always has a signer";
        }
    }
}

TEST(EmbeddedSignature, ChainRunsFromSignerToAnchorWithNamesIntoTheCertificate) {
    const auto& api = Api();
    const std::u16string path = DosPath(Fixture("pe/signed-pe32-sha256.exe"));
    WINTRUST_FILE_INFO file{16, path.c_str(), nullptr, nullptr};
    WINTRUST_DATA data{};
    data.cbStruct = 48;
    data.dwUIChoice = WTD_UI_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    ASSERT_EQ(api.VerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data), kTrusted);

    CRYPT_PROVIDER_SGNR* signer = api.GetProvSignerFromChain(api.ProvDataFromStateData(data.hWVTStateData), 0, FALSE, 0);
    ASSERT_NE(signer, nullptr);
    ASSERT_EQ(signer->csCertChain, 3u);
    PCCERT_CONTEXT leaf = signer->pasCertChain[0].pCert;
    PCCERT_CONTEXT issuer = signer->pasCertChain[1].pCert;
    EXPECT_EQ(CommonName(leaf->pCertInfo->Subject), "Velmora Test Signer");
    EXPECT_EQ(CommonName(leaf->pCertInfo->Issuer), "Velmora Test Code Signing CA");
    EXPECT_EQ(CommonName(issuer->pCertInfo->Subject), "Velmora Test Code Signing CA");
    EXPECT_EQ(CommonName(signer->pasCertChain[2].pCert->pCertInfo->Subject), "Velmora Test Root CA");
    // The name blobs lie inside the certificate's own encoding.
    const BYTE* begin = leaf->pbCertEncoded;
    const BYTE* end = begin + leaf->cbCertEncoded;
    EXPECT_TRUE(leaf->pCertInfo->Subject.pbData > begin && leaf->pCertInfo->Subject.pbData < end);
    EXPECT_EQ(api.GetProvCertFromChain(signer, 3), nullptr);
    EXPECT_EQ(api.GetProvSignerFromChain(api.ProvDataFromStateData(data.hWVTStateData), 1, FALSE, 0), nullptr);

    data.dwStateAction = WTD_STATEACTION_CLOSE;
    api.VerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    EXPECT_EQ(data.hWVTStateData, nullptr);
    // Closing again (a null state) is harmless.
    EXPECT_EQ(api.VerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data), kTrusted);
}

TEST(EmbeddedSignature, UnreadableFilesFailAndStillLeaveAStateToClose) {
    const auto folder = ScratchFolder("unreadable");
    const char* kCases[] = {"missing.exe", "folder.exe"};
    std::filesystem::create_directory(folder / "folder.exe");
    for (const char* name : kCases) {
        SCOPED_TRACE(name);
        const EmbeddedResult result = VerifyEmbedded(DosPath(folder / name));
        EXPECT_LT(result.status, 0);
        EXPECT_TRUE(result.stateAfterVerify);
        EXPECT_TRUE(result.stateClearedByClose);
    }
}

// Damage made here from a good signed file: each must be refused (or, for the bytes the hash
// leaves out, still trusted), and none may crash or read outside the file.
using Bytes = std::vector<unsigned char>;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
std::size_t OptionalHeader(const Bytes& b) {
    return Le32(b, 0x3C) + 24;
}
std::size_t SecurityEntry(const Bytes& b) {
    return OptionalHeader(b) + 96 + 4 * 8;  // PE32: data directories at 96, security is the fifth
}

struct Mutation {
    const char* name;
    std::function<void(Bytes&)> change;
    bool trusted;
};

TEST(EmbeddedSignature, DamagedAndHostileCopiesAreRefusedWithoutCrashing) {
    const Bytes original = ReadFile(Fixture("pe/signed-pe32-sha256.exe"));
    ASSERT_FALSE(original.empty());
    const std::size_t table = Le32(original, SecurityEntry(original));
    const std::size_t tableSize = Le32(original, SecurityEntry(original) + 4);
    ASSERT_EQ(table + tableSize, original.size());

    const Mutation kMutations[] = {
        {"checksum changed (not hashed)", [](Bytes& b) { PutLe32(b, OptionalHeader(b) + 64, 0x12345678); }, true},
        {"zero padding entry appended to the table",
         [](Bytes& b) {
             // A second, well-formed entry of another type: several entries are fine.
             const std::size_t entry = b.size();
             b.resize(b.size() + 16, 0);
             PutLe32(b, entry, 16);
             b[entry + 4] = 0x00, b[entry + 5] = 0x02, b[entry + 6] = 0x01;
             PutLe32(b, SecurityEntry(b) + 4, Le32(b, SecurityEntry(b) + 4) + 16);
         },
         true},
        {"bytes hidden in the table after the last entry",
         [](Bytes& b) {
             b.resize(b.size() + 16, 0xAB);
             PutLe32(b, SecurityEntry(b) + 4, Le32(b, SecurityEntry(b) + 4) + 16);
         },
         false},
        {"table beyond the end of the file", [](Bytes& b) { PutLe32(b, SecurityEntry(b) + 4, 0x7FFFFFF0); }, false},
        {"table offset inside the headers", [](Bytes& b) { PutLe32(b, SecurityEntry(b), 8); }, false},
        {"table shrunk below the entry", [](Bytes& b) { PutLe32(b, SecurityEntry(b) + 4, 16); }, false},
        {"entry length zero", [table](Bytes& b) { PutLe32(b, table, 0); }, false},
        {"entry length past the table", [table](Bytes& b) { PutLe32(b, table, 0x7FFFFFFF); }, false},
        {"wrong revision", [table](Bytes& b) { b[table + 5] = 0x01; }, false},
        {"garbage instead of PKCS#7", [table](Bytes& b) { std::fill(b.begin() + table + 8, b.end(), 0xA5); }, false},
        {"PKCS#7 length lies", [table](Bytes& b) { b[table + 8 + 2] ^= 0x40; }, false},
        {"PKCS#7 cut short",
         [table, tableSize](Bytes& b) {
             b.resize(table + tableSize / 2);
             PutLe32(b, SecurityEntry(b) + 4, static_cast<std::uint32_t>(tableSize / 2));
             PutLe32(b, table, static_cast<std::uint32_t>(tableSize / 2));
         },
         false},
        {"signature byte flipped", [](Bytes& b) { b[b.size() - 40] ^= 0x01; }, false},
        {"PE offset past the end", [](Bytes& b) { PutLe32(b, 0x3C, 0xFFFFFF00); }, false},
        {"file cut inside the headers", [](Bytes& b) { b.resize(0x90); }, false},
        {"empty file", [](Bytes& b) { b.clear(); }, false},
    };
    const auto folder = ScratchFolder("damaged");
    int index = 0;
    for (const Mutation& m : kMutations) {
        SCOPED_TRACE(m.name);
        Bytes bytes = original;
        m.change(bytes);
        const auto path = folder / ("case" + std::to_string(index++) + ".exe");
        WriteFile(path, bytes);
        const EmbeddedResult result = VerifyEmbedded(DosPath(path));
        if (m.trusted)
            EXPECT_EQ(result.status, kTrusted) << std::hex << static_cast<unsigned>(result.status);
        else
            EXPECT_LT(result.status, 0);
        EXPECT_TRUE(result.stateClearedByClose);
    }
}

// osslsigncode, given the same anchors, reaches the same trusted / not trusted verdict wherever it
// gives one. The listed files are where our verdict follows the platform instead.
TEST(EmbeddedSignature, AgreesWithOsslsigncodeOnEachFixture) {
    const std::string tool = VELMORA_OSSLSIGNCODE;
    if (tool.empty())
        GTEST_SKIP() << "osslsigncode is not installed";
    const std::set<std::string> kPlatformDiffers = {
        // osslsigncode calls a table whose size is not the first entry's length corrupted; the
        // platform takes the first of several entries.
        "pe/signed-two-entries.exe",
        // osslsigncode makes no padding check: it trusts bytes hidden in the entry after the
        // signature, which lie outside the hash.
        "pe/tampered-hidden-in-entry.exe",
    };
    const std::string root = Fixture("pki/root-ca.pem").string();
    const std::string intermediate = Fixture("pki/intermediate-ca.pem").string();
    for (const FixtureCase& c : kFixtureCases) {
        SCOPED_TRACE(c.file);
        const std::string command = tool + " verify -in '" + Fixture(c.file).string() + "' -CAfile '" + root +
                                    "' -untrusted '" + intermediate + "' -TSA-CAfile '" + root + "' >/dev/null 2>&1";
        const int exitCode = std::system(command.c_str());
        const bool theirs = exitCode == 0;
        const bool ours = VerifyEmbedded(DosPath(Fixture(c.file))).status == kTrusted;
        if (kPlatformDiffers.count(c.file))
            EXPECT_NE(ours, theirs) << "a known difference went away: update the list";
        else
            EXPECT_EQ(ours, theirs) << "osslsigncode " << (theirs ? "trusts" : "refuses") << " it";
    }
}

// Signers may emit their authenticated attributes unsorted; the signature covers them as encoded.
// Reversing the attributes of a good file and signing them again must still verify (a verifier
// that re-encodes, and so sorts, would refuse it); reversing them without signing must not.
TEST(EmbeddedSignature, AttributesAreVerifiedAsEncodedEvenWhenUnsorted) {
    const Bytes original = ReadFile(Fixture("pe/signed-pe32-sha256.exe"));
    const std::size_t table = Le32(original, SecurityEntry(original));
    const velmora::trust::der::Bytes pkcs7(original.data() + table + 8, original.size() - table - 8);
    const auto signedData = velmora::trust::ParseSignedData(velmora::trust::der::ReadFront(pkcs7)->whole);
    ASSERT_TRUE(signedData.has_value());
    const velmora::trust::SignerInfo& signer = signedData->signers.front();

    std::vector<velmora::trust::der::Bytes> attributes;
    velmora::trust::der::Reader reader(signer.authenticatedContents);
    while (!reader.AtEnd())
        attributes.push_back(reader.Next()->whole);
    ASSERT_GE(attributes.size(), 2u);
    Bytes reversed;
    for (auto it = attributes.rbegin(); it != attributes.rend(); ++it)
        reversed.insert(reversed.end(), it->begin(), it->end());

    Bytes unsorted = original;
    const std::size_t contentsAt = signer.authenticatedContents.data() - original.data();
    std::copy(reversed.begin(), reversed.end(), unsorted.begin() + static_cast<std::ptrdiff_t>(contentsAt));
    const auto folder = ScratchFolder("unsorted");
    WriteFile(folder / "unsigned-order.exe", unsorted);
    EXPECT_EQ(VerifyEmbedded(DosPath(folder / "unsigned-order.exe")).status, TRUST_E_BAD_DIGEST);

    // Sign the reordered attributes (SET tag in place of [0]) with the signer's key.
    const std::size_t attributesAt = signer.authenticatedAttributes.data() - original.data();
    Bytes toSign(unsorted.begin() + static_cast<std::ptrdiff_t>(attributesAt),
                 unsorted.begin() + static_cast<std::ptrdiff_t>(attributesAt + signer.authenticatedAttributes.size()));
    toSign[0] = 0x31;
    FILE* keyFile = std::fopen(Fixture("pki/signer.key").c_str(), "r");
    ASSERT_NE(keyFile, nullptr);
    EVP_PKEY* key = PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr);
    std::fclose(keyFile);
    ASSERT_NE(key, nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::size_t length = signer.signature.size();
    Bytes signature(length);
    ASSERT_EQ(EVP_DigestSignInit(ctx, nullptr, velmora::trust::DigestForOid(signer.digestOid), nullptr, key), 1);
    ASSERT_EQ(EVP_DigestSign(ctx, signature.data(), &length, toSign.data(), toSign.size()), 1);
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    ASSERT_EQ(length, signer.signature.size());
    std::copy(signature.begin(), signature.end(),
              unsorted.begin() + static_cast<std::ptrdiff_t>(signer.signature.data() - original.data()));
    WriteFile(folder / "resigned.exe", unsorted);
    EXPECT_EQ(VerifyEmbedded(DosPath(folder / "resigned.exe")).status, kTrusted);
}

TEST(EmbeddedSignature, Md5ImageDigestIsNotTrusted) {
    const std::string tool = VELMORA_OSSLSIGNCODE;
    if (tool.empty())
        GTEST_SKIP() << "osslsigncode is not installed";
    const auto folder = ScratchFolder("md5");
    const std::string command = tool + " sign -certs '" + Fixture("pki/signer.pem").string() + "' -ac '" +
                                Fixture("pki/chain-intermediate.pem").string() + "' -key '" +
                                Fixture("pki/signer.key").string() + "' -h md5 -in '" +
                                Fixture("pe/unsigned-pe32.exe").string() + "' -out '" +
                                (folder / "md5.exe").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(VerifyEmbedded(DosPath(folder / "md5.exe")).status, TRUST_E_BAD_DIGEST);
}

}  // namespace
}  // namespace trust_test
