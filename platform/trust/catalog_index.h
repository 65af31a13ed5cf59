// The look-up index of a catalog folder: which catalog first lists a member hash. Only member
// digests are kept (no catalog stays mapped), so thousands of catalogs cost little memory.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/trust/mapped_file.h"

namespace velmora::trust {

class CatalogIndex {
public:
    // Reads every *.cat of the folder in file-name order; catalogs that cannot be read or parsed
    // are skipped, and a missing folder gives an empty index. Signatures are not checked here:
    // that is the member check's job.
    // `load` maps one catalog by its Linux path (MappedFile::Open unless told otherwise).
    using Loader = std::optional<MappedFile> (*)(const std::string& linuxPath);
    static CatalogIndex Build(const std::string& folder, Loader load = &MappedFile::Open);

    // The catalog (by position) that comes first among those listing the digest, from `from` on.
    std::optional<std::size_t> FirstCatalogListing(std::span<const std::uint8_t> digest,
                                                   std::size_t from = 0) const;

    std::size_t CatalogCount() const { return m_paths.size(); }
    const std::string& CatalogPath(std::size_t index) const { return m_paths[index]; }

private:
    // Member digests of SHA-1 and SHA-256 catalogs.
    static constexpr std::size_t kMaxDigest = 32;
    struct Entry {
        std::array<std::uint8_t, kMaxDigest> digest{};
        std::uint8_t length = 0;
        std::uint32_t catalog = 0;
    };
    static bool Before(const Entry& a, const Entry& b);

    std::vector<std::string> m_paths;
    std::vector<Entry> m_entries;  // sorted by digest, then catalog position
};

}  // namespace velmora::trust
