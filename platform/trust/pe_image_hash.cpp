#include "platform/trust/pe_image_hash.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
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

// Below this a range is hashed from the view whatever else there is: a read costs a call.
constexpr std::size_t kReadRangesFrom = 64 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;

// Hashes bytes [from, to) of the file. A read that comes back short (a file that shrank) leaves
// the rest to the view, which shows what a mapping of the file shows.
bool Feed(EVP_MD_CTX* ctx, const HashInput& file, std::size_t from, std::size_t to) {
    if (to <= from)
        return true;
    if (file.fd >= 0 && to - from >= kReadRangesFrom) {
        thread_local std::vector<std::uint8_t> chunk;
        chunk.resize(kReadChunk);
        while (from < to) {
            const std::size_t want = std::min(kReadChunk, to - from);
            const ssize_t got = pread(file.fd, chunk.data(), want, static_cast<off_t>(from));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            if (EVP_DigestUpdate(ctx, chunk.data(), static_cast<std::size_t>(got)) != 1)
                return false;
            from += static_cast<std::size_t>(got);
        }
        if (from >= to)
            return true;
    }
    return EVP_DigestUpdate(ctx, file.bytes.data() + from, to - from) == 1;
}

// Feeds the image hash's ranges: everything except the checksum, the security entry and the table.
// Bytes after the table are hashed too, so anything appended behind a signature breaks it.
bool HashImage(EVP_MD_CTX* ctx, const HashInput& file, const PeLayout& layout, std::size_t padding) {
    auto feed = [&](std::size_t from, std::size_t to) { return Feed(ctx, file, from, to); };
    const std::size_t size = file.bytes.size();
    const std::size_t tableEnd = layout.certificateTableOffset + layout.certificateTableSize;
    const std::size_t hashedEnd = layout.certificateTableSize ? layout.certificateTableOffset : size;
    if (!feed(0, layout.checksumOffset) || !feed(layout.checksumOffset + 4, layout.securityEntryOffset) ||
        !feed(layout.securityEntryOffset + 8, hashedEnd))
        return false;
    if (layout.certificateTableSize && !feed(tableEnd, size))
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

bool DigestImage(const HashInput& file, const EVP_MD* md, const PeLayout& layout, std::size_t padding,
                 std::vector<std::uint8_t>& digest) {
    DigestContext ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || !md || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        return false;
    return HashImage(ctx.get(), file, layout, padding) && Finish(ctx.get(), digest);
}

} // namespace

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

bool ComputePeImageHash(const HashInput& file, const EVP_MD* md, std::vector<std::uint8_t>& digest) {
    const auto layout = ReadPeLayout(file.bytes);
    return layout && DigestImage(file, md, *layout, 0, digest);
}

std::vector<std::uint8_t> ComputeCatalogHash(const HashInput& file, const EVP_MD* md) {
    std::vector<std::uint8_t> digest;
    if (const auto layout = ReadPeLayout(file.bytes)) {
        // An unsigned image is hashed as if its table were about to be appended at the next
        // 8-byte boundary, so signing it later keeps its catalog hash.
        const std::size_t padding = layout->certificateTableSize == 0 ? (8 - file.bytes.size() % 8) % 8 : 0;
        if (DigestImage(file, md, *layout, padding, digest))
            return digest;
        return {};
    }
    DigestContext ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || !md || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1 ||
        !Feed(ctx.get(), file, 0, file.bytes.size()) || !Finish(ctx.get(), digest))
        return {};
    return digest;
}

} // namespace velmora::trust
