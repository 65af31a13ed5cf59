#include "platform/trust/catalog_index.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/trust/signature_check.h"

namespace velmora::trust {
namespace {

bool HasCatalogExtension(const std::string& name) {
    if (name.size() < 5)
        return false;
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension == ".cat";
}

std::vector<std::string> CatalogNames(const std::string& folder) {
    std::vector<std::string> names;
    struct DirCloser {
        void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (HasCatalogExtension(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

bool CatalogIndex::Before(const Entry& a, const Entry& b) {
    if (a.length != b.length)
        return a.length < b.length;
    const int order = std::memcmp(a.digest.data(), b.digest.data(), a.length);
    if (order != 0)
        return order < 0;
    return a.catalog < b.catalog;
}

CatalogIndex CatalogIndex::Build(const std::string& folder, Loader load) {
    CatalogIndex index;
    for (const std::string& name : CatalogNames(folder)) {
        const std::string path = folder + "/" + name;
        const auto file = load(path);  // refuses anything but a regular file
        if (!file)
            continue;
        const auto members = ReadCatalogMembers(file->Bytes());
        if (!members)
            continue;
        const auto position = static_cast<std::uint32_t>(index.m_paths.size());
        index.m_paths.push_back(path);
        for (const CatalogMember& member : members->members) {
            if (member.digest.size() != 20 && member.digest.size() != kMaxDigest)
                continue;
            Entry entry;
            std::copy(member.digest.begin(), member.digest.end(), entry.digest.begin());
            entry.length = static_cast<std::uint8_t>(member.digest.size());
            entry.catalog = position;
            index.m_entries.push_back(entry);
        }
    }
    std::sort(index.m_entries.begin(), index.m_entries.end(), Before);
    index.m_entries.shrink_to_fit();
    return index;
}

std::optional<std::size_t> CatalogIndex::FirstCatalogListing(std::span<const std::uint8_t> digest,
                                                            std::size_t from) const {
    if ((digest.size() != 20 && digest.size() != kMaxDigest) || from >= m_paths.size())
        return std::nullopt;
    Entry key;
    std::copy(digest.begin(), digest.end(), key.digest.begin());
    key.length = static_cast<std::uint8_t>(digest.size());
    key.catalog = static_cast<std::uint32_t>(from);
    const auto it = std::lower_bound(m_entries.begin(), m_entries.end(), key, Before);
    if (it == m_entries.end() || it->length != key.length ||
        std::memcmp(it->digest.data(), key.digest.data(), key.length) != 0)
        return std::nullopt;
    return it->catalog;
}

}  // namespace velmora::trust
