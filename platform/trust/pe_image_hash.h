// The Authenticode image hash of a PE file, and the hash a catalog lists for any file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <openssl/evp.h>

namespace velmora::trust {

// Where the pieces of a PE image lie that the image hash leaves out. Offsets are file offsets.
struct PeLayout {
    std::size_t checksumOffset = 0;         // 4-byte CheckSum of the optional header
    std::size_t securityEntryOffset = 0;    // 8-byte security entry of the data directory
    std::size_t certificateTableOffset = 0; // 0 with certificateTableSize 0: no table
    std::size_t certificateTableSize = 0;
};

// A file's bytes for hashing: its whole view and, while the file is open, its descriptor. Long
// ranges are hashed from reads of the descriptor: bringing a mapping's pages in one by one costs
// several times more than reading them, and divides badly over threads. Everything else, and every
// range when there is no descriptor, comes from the view.
struct HashInput {
    std::span<const std::uint8_t> bytes;
    int fd = -1;
};

// Reads the headers far enough to place the excluded pieces; nullopt when the bytes are not a
// well-formed PE image (no MZ/PE signatures, headers outside the file, a table outside the file
// or overlapping the headers).
std::optional<PeLayout> ReadPeLayout(std::span<const std::uint8_t> file);

// Authenticode image hash; false when the bytes are not a well-formed PE image.
bool ComputePeImageHash(const HashInput& file, const EVP_MD* md, std::vector<std::uint8_t>& digest);
inline bool ComputePeImageHash(std::span<const std::uint8_t> file, const EVP_MD* md,
                               std::vector<std::uint8_t>& digest) {
    return ComputePeImageHash(HashInput{file}, md, digest);
}

// What CryptCATAdminCalcHashFromFileHandle returns: the image hash for a PE image (with the zero
// padding to a multiple of 8 for an unsigned file), the flat digest otherwise. Empty only when
// the digest itself fails.
std::vector<std::uint8_t> ComputeCatalogHash(const HashInput& file, const EVP_MD* md);
inline std::vector<std::uint8_t> ComputeCatalogHash(std::span<const std::uint8_t> file, const EVP_MD* md) {
    return ComputeCatalogHash(HashInput{file}, md);
}

} // namespace velmora::trust
