// The image hash against an independent signer: osslsigncode signs our unsigned fixtures, and
// the hash it signed must be the catalog hash we computed for the file before it was signed.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>

#include "platform/trust/pe_image_hash.h"
#include "tests/trust/trust_test_support.h"

namespace trust_test {
namespace {

using velmora::trust::ComputeCatalogHash;
using velmora::trust::ComputePeImageHash;

TEST(ImageHash, CatalogHashOfAnUnsignedImageIsTheHashItCarriesOnceSigned) {
    const std::string tool = VELMORA_OSSLSIGNCODE;
    if (tool.empty())
        GTEST_SKIP() << "osslsigncode is not installed";
    struct Case {
        const char* file;
        const char* digestName;
        const EVP_MD* md;
    };
    const Case kCases[] = {
        {"pe/unsigned-pe32.exe", "sha1", EVP_sha1()},
        {"pe/unsigned-pe32plus.dll", "sha256", EVP_sha256()},
        {"pe/unsigned-odd-length.exe", "sha1", EVP_sha1()},  // padded to 8 by the signer
        {"pe/unsigned-odd-length.exe", "sha256", EVP_sha256()},
    };
    const auto folder = ScratchFolder("signed");
    int index = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.digestName);
        const auto signedPath = folder / ("signed" + std::to_string(index++) + ".exe");
        const std::string command = tool + " sign -certs '" + Fixture("pki/signer.pem").string() + "' -ac '" +
                                    Fixture("pki/chain-intermediate.pem").string() + "' -key '" +
                                    Fixture("pki/signer.key").string() + "' -h " + c.digestName + " -in '" +
                                    Fixture(c.file).string() + "' -out '" + signedPath.string() +
                                    "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);

        const auto unsignedBytes = ReadFile(Fixture(c.file));
        const auto signedBytes = ReadFile(signedPath);
        std::vector<std::uint8_t> signedHash;
        ASSERT_TRUE(ComputePeImageHash(signedBytes, c.md, signedHash));
        EXPECT_EQ(ComputeCatalogHash(unsignedBytes, c.md), signedHash);
        // And the signer's own digest is what we compute: the copy verifies.
        EXPECT_EQ(VerifyEmbedded(DosPath(signedPath)).status, 0);
    }
}

TEST(ImageHash, BytesThatAreNoImageHashFlat) {
    const std::vector<std::vector<std::uint8_t>> kInputs = {
        {},
        {'M', 'Z'},
        std::vector<std::uint8_t>(0x100, 'M'),
        ReadFile(Fixture("pe/catalogued-flat.txt")),
    };
    for (const auto& input : kInputs) {
        std::vector<std::uint8_t> digest;
        EXPECT_FALSE(ComputePeImageHash(input, EVP_sha1(), digest));
        std::vector<std::uint8_t> flat(20);
        unsigned int length = 0;
        ASSERT_EQ(EVP_Digest(input.data(), input.size(), flat.data(), &length, EVP_sha1(), nullptr), 1);
        EXPECT_EQ(ComputeCatalogHash(input, EVP_sha1()), flat);
    }
}

}  // namespace
}  // namespace trust_test
