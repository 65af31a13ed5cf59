// A read-only view of a whole file, for hashing and parsing without copies.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/trust/pe_image_hash.h"

namespace velmora::trust {

class MappedFile {
  public:
    // Maps the regular file behind a descriptor (which stays the caller's). Nullopt when it is not a
    // regular file or cannot be mapped; an empty file gives an empty view.
    static std::optional<MappedFile> FromDescriptor(int fd);
    // Opens, maps and closes again: the view outlives the descriptor.
    static std::optional<MappedFile> Open(const std::string& linuxPath);
    // Takes over a view mapped elsewhere; `release` undoes it when the view goes. A descriptor of
    // the same file, when given, is the view's own from then on and is closed with it.
    using Release = void (*)(const std::uint8_t* data, std::size_t size);
    static MappedFile Adopt(const std::uint8_t* data, std::size_t size, Release release, int fd = -1);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    std::span<const std::uint8_t> Bytes() const { return {m_data, m_size}; }
    HashInput ForHashing() const { return HashInput{Bytes(), m_fd}; }

  private:
    MappedFile(const std::uint8_t* data, std::size_t size, Release release, int fd = -1)
        : m_data(data), m_size(size), m_release(release), m_fd(fd) {}
    void Reset();

    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    Release m_release = nullptr;
    int m_fd = -1;
};

} // namespace velmora::trust
