#include "platform/trust/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace velmora::trust {
namespace {

void Unmap(const std::uint8_t* data, std::size_t size) {
    munmap(const_cast<std::uint8_t*>(data), size);
}

} // namespace

MappedFile MappedFile::Adopt(const std::uint8_t* data, std::size_t size, Release release, int fd) {
    return MappedFile(data, size, release, fd);
}

void MappedFile::Reset() {
    if (m_data && m_release)
        m_release(m_data, m_size);
    if (m_fd >= 0)
        close(m_fd);
    m_data = nullptr;
    m_size = 0;
    m_release = nullptr;
    m_fd = -1;
}

std::optional<MappedFile> MappedFile::FromDescriptor(int fd) {
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size == 0)
        return MappedFile(nullptr, 0, nullptr);
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED)
        return std::nullopt;
    madvise(data, size, MADV_SEQUENTIAL);
    return MappedFile(static_cast<const std::uint8_t*>(data), size, &Unmap);
}

std::optional<MappedFile> MappedFile::Open(const std::string& linuxPath) {
    // O_NONBLOCK so that a FIFO given by name cannot block the open; it is refused just after.
    const int fd = open(linuxPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    auto file = FromDescriptor(fd);
    close(fd);
    return file;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_release(std::exchange(other.m_release, nullptr)), m_fd(std::exchange(other.m_fd, -1)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        Reset();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_release = std::exchange(other.m_release, nullptr);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

MappedFile::~MappedFile() {
    Reset();
}

} // namespace velmora::trust
