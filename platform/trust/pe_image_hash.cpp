#include "platform/trust/pe_image_hash.h"

#include <array>
#include <memory>

namespace velmora::trust {
namespace {

std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::size_t kSecurityDirectoryIndex = 4;

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// Feeds the image hash's ranges: everything except the checksum, the security entry and the table.
// Bytes after the table are hashed too, so anything appended behind a signature breaks it.
bool HashImage(EVP_MD_CTX* ctx, std::span<const std::uint8_t> file, const PeLayout& layout, std::size_t padding) {
    auto feed = [&](std::size_t from, std::size_t to) {
        return to <= from || EVP_DigestUpdate(ctx, file.data() + from, to - from) == 1;
    };
    const std::size_t tableEnd = layout.certificateTableOffset + layout.certificateTableSize;
    const std::size_t hashedEnd = layout.certificateTableSize ? layout.certificateTableOffset : file.size();
    if (!feed(0, layout.checksumOffset) || !feed(layout.checksumOffset + 4, layout.securityEntryOffset) ||
        !feed(layout.securityEntryOffset + 8, hashedEnd))
        return false;
    if (layout.certificateTableSize && !feed(tableEnd, file.size()))
        return false;
    static constexpr std::array<std::uint8_t, 8> kZeros{};
    return padding == 0 || EVP_DigestUpdate(ctx, kZeros.data(), padding) == 1;
}

bool Finish(EVP_MD_CTX* ctx, std::vector<std::uint8_t>& digest) {
    unsigned int length = 0;
    digest.resize(EVP_MAX_MD_SIZE);
    if (EVP_DigestFinal_ex(ctx, digest.data(), &length) != 1) {
        digest.clear();
        return false;
    }
    digest.resize(length);
    return true;
}

bool DigestImage(std::span<const std::uint8_t> file, const EVP_MD* md, const PeLayout& layout, std::size_t padding,
                 std::vector<std::uint8_t>& digest) {
    DigestContext ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || !md || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        return false;
    return HashImage(ctx.get(), file, layout, padding) && Finish(ctx.get(), digest);
}

}  // namespace

std::optional<PeLayout> ReadPeLayout(std::span<const std::uint8_t> file) {
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z')
        return std::nullopt;
    const std::size_t pe = Le32(file, 0x3C);
    // Signature (4) + file header (20) + the optional header's magic.
    if (pe > file.size() || file.size() - pe < 24 + 2)
        return std::nullopt;
    if (file[pe] != 'P' || file[pe + 1] != 'E' || file[pe + 2] != 0 || file[pe + 3] != 0)
        return std::nullopt;
    const std::size_t optionalSize = Le16(file, pe + 20);
    const std::size_t optional = pe + 24;
    const std::uint16_t magic = Le16(file, optional);
    std::size_t rvaCountAt = 0;
    if (magic == kMagicPe32)
        rvaCountAt = 92;
    else if (magic == kMagicPe32Plus)
        rvaCountAt = 108;
    else
        return std::nullopt;
    const std::size_t directories = rvaCountAt + 4;
    const std::size_t securityEnd = directories + (kSecurityDirectoryIndex + 1) * 8;
    if (optionalSize < securityEnd || file.size() - optional < securityEnd)
        return std::nullopt;
    if (Le32(file, optional + rvaCountAt) <= kSecurityDirectoryIndex)
        return std::nullopt;

    PeLayout layout;
    layout.checksumOffset = optional + 64;
    layout.securityEntryOffset = optional + directories + kSecurityDirectoryIndex * 8;
    const std::size_t tableOffset = Le32(file, layout.securityEntryOffset);
    const std::size_t tableSize = Le32(file, layout.securityEntryOffset + 4);
    if (tableSize != 0) {
        // The table is addressed by file offset; it must lie inside the file, after the headers.
        if (tableOffset < layout.securityEntryOffset + 8 || tableOffset > file.size() ||
            tableSize > file.size() - tableOffset)
            return std::nullopt;
        layout.certificateTableOffset = tableOffset;
        layout.certificateTableSize = tableSize;
    }
    return layout;
}

bool ComputePeImageHash(std::span<const std::uint8_t> file, const EVP_MD* md, std::vector<std::uint8_t>& digest) {
    const auto layout = ReadPeLayout(file);
    return layout && DigestImage(file, md, *layout, 0, digest);
}

std::vector<std::uint8_t> ComputeCatalogHash(std::span<const std::uint8_t> file, const EVP_MD* md) {
    std::vector<std::uint8_t> digest;
    if (const auto layout = ReadPeLayout(file)) {
        // An unsigned image is hashed as if its table were about to be appended at the next
        // 8-byte boundary, so signing it later keeps its catalog hash.
        const std::size_t padding = layout->certificateTableSize == 0 ? (8 - file.size() % 8) % 8 : 0;
        if (DigestImage(file, md, *layout, padding, digest))
            return digest;
        return {};
    }
    DigestContext ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || !md || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), file.data(), file.size()) != 1 || !Finish(ctx.get(), digest))
        return {};
    return digest;
}

}  // namespace velmora::trust
