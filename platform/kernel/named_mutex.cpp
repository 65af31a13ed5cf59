#include "platform/kernel/named_mutex.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/kernel/kernel_object.h"
#include "platform/kernel/wide_text.h"

namespace {

class NamedMutex : public velmora::kernel::KernelObject {
public:
    explicit NamedMutex(int fd) : m_fd(fd) {}
    ~NamedMutex() override {
        if (m_fd >= 0)
            close(m_fd);
    }
    const char* KindName() const override { return "mutex"; }

private:
    int m_fd;
};

std::string LockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        struct stat st {};
        if (stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
            return runtime;
    }
    std::string folder = "/tmp/velmora-" + std::to_string(getuid());
    mkdir(folder.c_str(), 0700);
    return folder;
}

// Names may hold any character; the file name keeps letters and digits and spells out the rest,
// so two names never share a file.
std::string FileNameFor(const std::u16string& name) {
    std::string out = "velmora-mutex-";
    static const char* hex = "0123456789abcdef";
    for (char16_t c : name) {
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            for (int shift = 12; shift >= 0; shift -= 4)
                out += hex[(c >> shift) & 0xF];
        }
    }
    return out;
}

} // namespace

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR lpName) {
    if (!lpName) {
        HANDLE h = velmora::kernel::RegisterKernelObject(std::make_shared<NamedMutex>(-1));
        SetLastError(ERROR_SUCCESS);
        return h;
    }
    std::u16string name(lpName);
    if (name.size() > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::string path = LockFolder() + "/" + FileNameFor(name);
    // Close-on-exec: a program started from here must not inherit the guard and outlive us with it.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    bool exists = false;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        exists = errno == EWOULDBLOCK;
        break;
    }
    HANDLE h = velmora::kernel::RegisterKernelObject(std::make_shared<NamedMutex>(fd));
    SetLastError(exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}
