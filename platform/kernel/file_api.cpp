#include "platform/kernel/file_api.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/kernel/dos_paths.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/wide_text.h"

namespace velmora::kernel {
namespace {

class FileObject final : public KernelObject {
  public:
    FileObject(int fd, bool writable, bool othersMayWrite)
        : fd(fd), writable(writable), othersMayWrite(othersMayWrite) {}
    ~FileObject() override { ::close(fd); }
    const char* KindName() const override { return "file"; }
    const int fd;
    const bool writable;
    // Opened with write sharing: other writers are allowed while this handle or a mapping of it
    // is open, so a view must show their changes.
    const bool othersMayWrite;
};

class MappingObject final : public KernelObject {
  public:
    MappingObject(std::shared_ptr<FileObject> file, std::uint64_t size, bool writable)
        : file(std::move(file)), size(size), writable(writable) {}
    const char* KindName() const override { return "mapping"; }
    // The mapping keeps its file open, as it does on the platform, even after the file's handle
    // is closed.
    const std::shared_ptr<FileObject> file;
    const std::uint64_t size;
    const bool writable;
};

DWORD ErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ETXTBSY:
    case EWOULDBLOCK:
        return ERROR_SHARING_VIOLATION;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// ENOENT for a missing name in an existing folder is "file not found"; when the folder itself is
// missing it is "path not found".
DWORD MissingError(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return ERROR_FILE_NOT_FOUND;
    struct stat st {};
    std::string parent = path.substr(0, slash);
    return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                 : ERROR_PATH_NOT_FOUND;
}

// The Linux path for a name handed to a file call, and its stat when it exists. The exact
// mapping is tried first; the look-up without regard to case only when that name is missing.
struct ResolvedPath {
    std::string path;
    bool exists = false;
    struct stat st {};
    int error = 0;
};

ResolvedPath ResolveFrom(std::u16string_view text, std::string exact) {
    ResolvedPath r;
    r.path = std::move(exact);
    if (stat(r.path.c_str(), &r.st) == 0) {
        r.exists = true;
        return r;
    }
    r.error = errno;
    if (r.error == ENOENT || r.error == ENOTDIR) {
        auto folded = DosPathToLinux(text);
        if (folded && *folded != r.path && stat(folded->c_str(), &r.st) == 0) {
            r.path = std::move(*folded);
            r.exists = true;
            r.error = 0;
        }
    }
    return r;
}

std::optional<ResolvedPath> Resolve(LPCWSTR name) {
    if (!name || !*name)
        return std::nullopt;
    std::u16string_view text(name);
    auto exact = DosPathToLinuxExact(text);
    if (!exact)
        return std::nullopt;
    return ResolveFrom(text, std::move(*exact));
}

// Views of files. Each read-only view also sits in a small lock-free table that the SIGBUS
// handler can read: a file that shrinks under a view would otherwise kill the process at the
// first read past its new end.
constexpr std::size_t kGuardSlots = 4096;
std::atomic<std::uintptr_t> g_guardBegin[kGuardSlots];
std::atomic<std::uintptr_t> g_guardEnd[kGuardSlots];
struct sigaction g_previousBus;
std::once_flag g_busOnce;

void ChainToPrevious(int sig, siginfo_t* info, void* context) {
    if (g_previousBus.sa_flags & SA_SIGINFO) {
        if (g_previousBus.sa_sigaction) {
            g_previousBus.sa_sigaction(sig, info, context);
            return;
        }
    } else if (g_previousBus.sa_handler != SIG_DFL && g_previousBus.sa_handler != SIG_IGN) {
        g_previousBus.sa_handler(sig);
        return;
    }
    // Default action: put it back and let the faulting access happen again.
    signal(SIGBUS, SIG_DFL);
}

void OnBusError(int sig, siginfo_t* info, void* context) {
    auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (std::size_t i = 0; i < kGuardSlots; ++i) {
        std::uintptr_t begin = g_guardBegin[i].load(std::memory_order_acquire);
        if (begin && address >= begin && address < g_guardEnd[i].load(std::memory_order_acquire)) {
            auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
            void* at = reinterpret_cast<void*>(address & ~(page - 1));
            // The page past the file's end now reads as zeros; the access is retried.
            if (mmap(at, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED)
                return;
            break;
        }
    }
    ChainToPrevious(sig, info, context);
}

void InstallBusGuard() {
    std::call_once(g_busOnce, [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_previousBus);
    });
}

void GuardView(std::uintptr_t begin, std::size_t length) {
    for (std::size_t i = 0; i < kGuardSlots; ++i) {
        std::uintptr_t expected = 0;
        if (g_guardBegin[i].load(std::memory_order_relaxed) == 0) {
            g_guardEnd[i].store(begin + length, std::memory_order_release);
            if (g_guardBegin[i].compare_exchange_strong(expected, begin, std::memory_order_acq_rel))
                return;
        }
    }
    // All slots taken: the view simply goes unguarded.
}

void UnguardView(std::uintptr_t begin) {
    for (std::size_t i = 0; i < kGuardSlots; ++i) {
        std::uintptr_t expected = begin;
        if (g_guardBegin[i].compare_exchange_strong(expected, 0, std::memory_order_acq_rel))
            return;
    }
}

struct ViewRecord {
    std::size_t length = 0;
    bool copied = false; // read into memory of its own rather than mapped
};

struct ViewTable {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, ViewRecord> views;
};

ViewTable& Views() {
    static ViewTable* views = new ViewTable;
    return *views;
}

void RecordView(std::uintptr_t begin, ViewRecord record) {
    ViewTable& views = Views();
    std::lock_guard guard(views.lock);
    views.views[begin] = record;
}

std::size_t PageSize() {
    static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return page;
}

// A read-only view of two pages or less is read rather than mapped when no one may write the file
// meanwhile, this handle included: it then holds exactly what a mapping would show, and reading it
// touches no more than a look at its first page and one other would. Setting up and tearing down a
// mapping costs far more than reading a few KiB (several times more where page tables are
// paravirtualised), and a scan maps every file it meets; larger views stay mappings, so their cost
// does not grow with their size.
std::size_t CopiedViewLimit() {
    return 2 * PageSize();
}

LPVOID CopiedView(int fd, off_t offset, std::size_t length) {
    const std::size_t page = PageSize();
    void* view = std::aligned_alloc(page, (length + page - 1) / page * page);
    if (!view) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* bytes = static_cast<char*>(view);
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = pread(fd, bytes + done, length - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            std::free(view);
            SetLastError(ErrorFromErrno(errno));
            return nullptr;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    // A file that shrank since its mapping was made reads as zeros past its end, as a mapped
    // view of it does.
    std::memset(bytes + done, 0, length - done);
    RecordView(reinterpret_cast<std::uintptr_t>(view), ViewRecord{length, true});
    SetLastError(ERROR_SUCCESS);
    return view;
}

std::shared_ptr<FileObject> FileFromHandle(HANDLE handle) {
    return LookupKernelObjectAs<FileObject>(handle);
}

// Whether this process may take leases on files of other owners (CAP_LEASE). Read once, like
// the user below: the program does not change its privileges while it runs.
bool MayLeaseOthersFiles() {
    static const bool may = [] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (syscall(SYS_capget, &header, data) != 0)
            return true; // unknown: let the kernel decide each time
        return (data[CAP_LEASE / 32].effective & (1u << (CAP_LEASE % 32))) != 0;
    }();
    return may;
}

// Refuses read sharing without write sharing while someone else holds the file open for writing.
// A read lease is granted only when no one does; it is dropped again at once. Where leases are
// unavailable (a file of another owner, a file system without them) the open is allowed; for a
// file of another owner the kernel's answer is known beforehand and not asked for.
bool SomeoneWrites(int fd, const struct stat& st) {
    static const uid_t self = geteuid();
    if (st.st_uid != self && self != 0 && !MayLeaseOthersFiles())
        return false;
    // Should a writer open the file in the instant the lease is held, the kernel signals the
    // holder; SIGURG is ignored unless a program asks for it, unlike the default SIGIO.
    fcntl(fd, F_SETSIG, SIGURG);
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        fcntl(fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    return errno == EAGAIN;
}

} // namespace

int KernelFileDescriptor(HANDLE hFile) {
    auto file = std::dynamic_pointer_cast<FileObject>(LookupKernelObject(hFile));
    return file ? file->fd : -1;
}

std::size_t MappedViewCount() {
    ViewTable& views = Views();
    std::lock_guard guard(views.lock);
    return views.views.size();
}

} // namespace velmora::kernel

using namespace velmora::kernel;

extern "C" HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                              LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD, HANDLE) {
    bool wantRead = dwDesiredAccess & GENERIC_READ;
    bool wantWrite = dwDesiredAccess & GENERIC_WRITE;
    int flags = wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (dwCreationDisposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!wantWrite) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }

    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::u16string_view text(lpFileName);
    auto exact = DosPathToLinuxExact(text);
    if (!exact) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    flags |= O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = -1;
    std::string path;
    {
        ResolvedPath resolved = ResolveFrom(text, std::move(*exact));
        if (resolved.exists) {
            // Only regular files are ever opened: a FIFO could block, and opening a device can
            // act on it.
            if (!S_ISREG(resolved.st.st_mode)) {
                SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
        } else if (!(flags & O_CREAT)) {
            SetLastError(resolved.error == ENOENT ? MissingError(resolved.path)
                                                  : ErrorFromErrno(resolved.error));
            return INVALID_HANDLE_VALUE;
        }
        path = std::move(resolved.path);
        fd = open(path.c_str(), flags, 0666);
    }
    if (fd < 0) {
        int error = errno;
        SetLastError(error == ENOENT ? MissingError(path) : ErrorFromErrno(error));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!wantWrite && !(dwShareMode & FILE_SHARE_WRITE) && SomeoneWrites(fd, st)) {
        ::close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = RegisterKernelObject(
        std::make_shared<FileObject>(fd, wantWrite, (dwShareMode & FILE_SHARE_WRITE) != 0));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

extern "C" DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    auto file = FileFromHandle(hFile);
    struct stat st {};
    if (!file || fstat(file->fd, &st) != 0) {
        if (file)
            SetLastError(ErrorFromErrno(errno));
        return INVALID_FILE_SIZE;
    }
    auto size = static_cast<std::uint64_t>(st.st_size);
    if (lpFileSizeHigh)
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

extern "C" BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                         LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    auto file = FileFromHandle(hFile);
    if (!file)
        return FALSE;
    if (lpOverlapped || (!lpBuffer && nNumberOfBytesToRead)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD done = 0;
    auto* out = static_cast<char*>(lpBuffer);
    while (done < nNumberOfBytesToRead) {
        ssize_t n = read(file->fd, out + done, nNumberOfBytesToRead - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            SetLastError(ErrorFromErrno(errno));
            if (lpNumberOfBytesRead)
                *lpNumberOfBytesRead = done;
            return FALSE;
        }
        if (n == 0)
            break;
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = done;
    return TRUE;
}

extern "C" BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                          LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    auto file = FileFromHandle(hFile);
    if (!file)
        return FALSE;
    if (lpOverlapped || (!lpBuffer && nNumberOfBytesToWrite)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD done = 0;
    const auto* in = static_cast<const char*>(lpBuffer);
    while (done < nNumberOfBytesToWrite) {
        ssize_t n = write(file->fd, in + done, nNumberOfBytesToWrite - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            SetLastError(n < 0 ? ErrorFromErrno(errno) : ERROR_ACCESS_DENIED);
            if (lpNumberOfBytesWritten)
                *lpNumberOfBytesWritten = done;
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = done;
    return TRUE;
}

extern "C" DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                DWORD dwMoveMethod) {
    auto file = FileFromHandle(hFile);
    if (!file)
        return INVALID_SET_FILE_POINTER;
    std::int64_t distance =
        lpDistanceToMoveHigh
            ? static_cast<std::int64_t>(
                  (static_cast<std::uint64_t>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
                  static_cast<DWORD>(lDistanceToMove))
            : lDistanceToMove;
    int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
                 : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
                 : dwMoveMethod == FILE_END     ? SEEK_END
                                                : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    off_t at = lseek(file->fd, distance, whence);
    if (at < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh)
        *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<std::uint64_t>(at) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(at);
}

extern "C" HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect,
                                     DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName) {
    if (lpName) {
        SetLastError(ERROR_INVALID_PARAMETER); // named mappings are not offered
        return nullptr;
    }
    auto file = FileFromHandle(hFile);
    if (!file)
        return nullptr;
    DWORD protection = flProtect & 0xFF;
    if (protection != PAGE_READONLY && protection != PAGE_READWRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool writable = protection == PAGE_READWRITE;
    if (writable && !file->writable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    struct stat st {};
    if (fstat(file->fd, &st) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    auto fileSize = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t size = (static_cast<std::uint64_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
    if (size == 0) {
        if (fileSize == 0) {
            SetLastError(ERROR_FILE_INVALID);
            return nullptr;
        }
        size = fileSize;
    }
    if (size > fileSize) {
        if (!writable) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        if (ftruncate(file->fd, static_cast<off_t>(size)) != 0) {
            SetLastError(ErrorFromErrno(errno));
            return nullptr;
        }
    }
    HANDLE handle = RegisterKernelObject(std::make_shared<MappingObject>(std::move(file), size, writable));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

extern "C" LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                                DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
    auto mapping = LookupKernelObjectAs<MappingObject>(hFileMappingObject);
    if (!mapping)
        return nullptr;
    bool write = dwDesiredAccess & FILE_MAP_WRITE;
    if (write && !mapping->writable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::uint64_t offset = (static_cast<std::uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    if (offset % 65536 != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    if (offset >= mapping->size) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::uint64_t length = dwNumberOfBytesToMap ? dwNumberOfBytesToMap : mapping->size - offset;
    if (length > mapping->size - offset) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (!write && !mapping->file->writable && !mapping->file->othersMayWrite && length <= CopiedViewLimit())
        return CopiedView(mapping->file->fd, static_cast<off_t>(offset), length);
    if (!write)
        InstallBusGuard();
    void* view = mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                      mapping->file->fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto begin = reinterpret_cast<std::uintptr_t>(view);
    RecordView(begin, ViewRecord{length, false});
    if (!write)
        GuardView(begin, length);
    SetLastError(ERROR_SUCCESS);
    return view;
}

extern "C" BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
    auto begin = reinterpret_cast<std::uintptr_t>(lpBaseAddress);
    ViewRecord record;
    {
        ViewTable& views = Views();
        std::lock_guard guard(views.lock);
        auto it = views.views.find(begin);
        if (it == views.views.end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        record = it->second;
        views.views.erase(it);
    }
    if (record.copied) {
        std::free(const_cast<void*>(lpBaseAddress));
        return TRUE;
    }
    UnguardView(begin);
    munmap(const_cast<void*>(lpBaseAddress), record.length);
    return TRUE;
}

namespace {

DWORD AttributesOf(const ResolvedPath& resolved) {
    DWORD attributes = S_ISDIR(resolved.st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(resolved.st.st_mode & 0222))
        attributes |= FILE_ATTRIBUTE_READONLY;
    auto slash = resolved.path.rfind('/');
    if (slash != std::string::npos && slash + 1 < resolved.path.size() && resolved.path[slash + 1] == '.')
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes;
}

FILETIME FileTimeOf(const timespec& t) {
    // 100-nanosecond steps since 1601-01-01.
    std::uint64_t ticks = (static_cast<std::uint64_t>(t.tv_sec) + 11644473600ULL) * 10000000ULL +
                          static_cast<std::uint64_t>(t.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::optional<ResolvedPath> ResolveExisting(LPCWSTR name) {
    auto resolved = Resolve(name);
    if (!resolved) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    if (!resolved->exists) {
        SetLastError(resolved->error == ENOENT ? MissingError(resolved->path)
                                               : ErrorFromErrno(resolved->error));
        return std::nullopt;
    }
    return resolved;
}

} // namespace

extern "C" DWORD GetFileAttributesW(LPCWSTR lpFileName) {
    auto resolved = ResolveExisting(lpFileName);
    if (!resolved)
        return INVALID_FILE_ATTRIBUTES;
    SetLastError(ERROR_SUCCESS);
    return AttributesOf(*resolved);
}

extern "C" BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                     LPVOID lpFileInformation) {
    if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto resolved = ResolveExisting(lpFileName);
    if (!resolved)
        return FALSE;
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation);
    data->dwFileAttributes = AttributesOf(*resolved);
    data->ftCreationTime = FileTimeOf(resolved->st.st_ctim);
    data->ftLastAccessTime = FileTimeOf(resolved->st.st_atim);
    data->ftLastWriteTime = FileTimeOf(resolved->st.st_mtim);
    auto size = S_ISREG(resolved->st.st_mode) ? static_cast<std::uint64_t>(resolved->st.st_size) : 0;
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" BOOL DeleteFileW(LPCWSTR lpFileName) {
    auto resolved = Resolve(lpFileName);
    if (!resolved) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (resolved->exists && S_ISDIR(resolved->st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(resolved->path.c_str()) != 0) {
        SetLastError(errno == ENOENT ? MissingError(resolved->path) : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}
