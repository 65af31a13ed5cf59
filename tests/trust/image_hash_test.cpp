// The image hash against an independent signer: osslsigncode signs our unsigned fixtures, and
// the hash it signed must be the catalog hash we computed for the file before it was signed.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/trust/pe_image_hash.h"
#include "tests/trust/trust_test_support.h"

namespace trust_test {
namespace {

using velmora::trust::ComputeCatalogHash;
using velmora::trust::ComputePeImageHash;
using velmora::trust::HashInput;

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
        {"pe/unsigned-odd-length.exe", "sha1", EVP_sha1()}, // padded to 8 by the signer
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

// Long ranges are hashed from reads of the file's descriptor: the digests must be those of the
// view, also for a descriptor that reads short (a file that shrank), where the view has the rest.
TEST(ImageHash, ReadingLongRangesFromTheFileGivesTheDigestsOfItsView) {
    std::vector<std::uint8_t> overlay(300 * 1024 + 3);
    for (std::size_t i = 0; i < overlay.size(); ++i)
        overlay[i] = static_cast<std::uint8_t>(i * 31 + i / 977);
    auto withOverlay = [&](std::vector<std::uint8_t> bytes) {
        bytes.insert(bytes.end(), overlay.begin(), overlay.end());
        return bytes;
    };
    const std::vector<std::vector<std::uint8_t>> kFiles = {
        withOverlay(ReadFile(Fixture("pe/unsigned-pe32.exe"))),
        withOverlay(ReadFile(Fixture("pe/signed-pe32-sha256.exe"))), // hashed on after the table
        overlay,                                                     // no image: hashed flat
    };
    const auto folder = ScratchFolder("hash-reads");
    int index = 0;
    for (const auto& bytes : kFiles) {
        for (std::size_t onDisk : {bytes.size(), bytes.size() / 2}) {
            SCOPED_TRACE("file " + std::to_string(index) + ", " + std::to_string(onDisk) + " bytes on disk");
            const auto path = folder / ("file" + std::to_string(index++));
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(onDisk));
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            const HashInput read{bytes, fd};
            for (const EVP_MD* md : {EVP_sha1(), EVP_sha256()}) {
                EXPECT_EQ(ComputeCatalogHash(read, md), ComputeCatalogHash(bytes, md));
                std::vector<std::uint8_t> fromView, fromReads;
                EXPECT_EQ(ComputePeImageHash(read, md, fromReads), ComputePeImageHash(bytes, md, fromView));
                EXPECT_EQ(fromReads, fromView);
            }
            close(fd);
        }
    }
}

} // namespace
} // namespace trust_test
