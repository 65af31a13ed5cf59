#include "platform/kernel/file_api.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/kernel/kernel_object.h"
#include "tests/kernel/held_for_writing.h"
#include "tests/kernel/temp_tree.h"

namespace {

using velmora::kernel::KernelFileDescriptor;
using velmora::kernel::LinuxPathToDos;

HANDLE OpenForReading(const CString& path, DWORD share = FILE_SHARE_READ) {
    return CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(CreateFile, OpensRegularFilesOnlyAndNeverBlocks) {
    TempTree tree;
    tree.File("file.bin", "data");
    tree.Folder("folder");
    ASSERT_EQ(mkfifo(tree.Path("fifo").c_str(), 0644), 0);
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", tree.Path("socket").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    tree.Link("link-to-file", tree.Path("file.bin"));

    struct Case {
        std::string path;
        DWORD error; // 0: opens
    } cases[] = {
        {tree.Path("file.bin"), 0},
        {tree.Path("link-to-file"), 0},
        {tree.Path("folder"), ERROR_ACCESS_DENIED},
        {tree.Path("fifo"), ERROR_ACCESS_DENIED}, // no writer: opening it for real would block
        {tree.Path("socket"), ERROR_ACCESS_DENIED},
        {"/dev/null", ERROR_ACCESS_DENIED},
        {"/dev/zero", ERROR_ACCESS_DENIED},
        {tree.Path("missing.bin"), ERROR_FILE_NOT_FOUND},
        {tree.Path("missing/file.bin"), ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SetLastError(12345);
        HANDLE h = OpenForReading(LinuxPathToDos(c.path));
        if (c.error == 0) {
            EXPECT_NE(h, INVALID_HANDLE_VALUE) << c.path;
            EXPECT_TRUE(CloseHandle(h));
        } else {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.path;
            EXPECT_EQ(GetLastError(), c.error) << c.path;
        }
    }
    close(sock);
}

// The open that follows an attribute query of the same name must still see what is there now.
TEST(CreateFile, ANameReplacedRightAfterItsAttributesWereReadIsJudgedAgain) {
    TempTree tree;
    struct Case {
        const char* name;
        void (*replace)(const std::string& path);
        DWORD error;
    } cases[] = {
        {"by-fifo", [](const std::string& p) { unlink(p.c_str()), mkfifo(p.c_str(), 0644); },
         ERROR_ACCESS_DENIED},
        {"by-folder", [](const std::string& p) { unlink(p.c_str()), mkdir(p.c_str(), 0755); },
         ERROR_ACCESS_DENIED},
        {"deleted", [](const std::string& p) { unlink(p.c_str()); }, ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        std::string path = tree.File(c.name, std::string(400, 'A'));
        CString dos = LinuxPathToDos(path);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExW(dos, GetFileExInfoStandard, &data)) << c.name;
        c.replace(path);
        SetLastError(0);
        EXPECT_EQ(OpenForReading(dos), INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    // Found again under another case when the name as written went away.
    tree.File("Mixed.bin", "x");
    CString lower = LinuxPathToDos(tree.Path("mixed.bin"));
    tree.File("mixed.bin", "y");
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(lower, GetFileExInfoStandard, &data));
    unlink(tree.Path("mixed.bin").c_str());
    HANDLE h = OpenForReading(lower);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char byte = 0;
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, &byte, 1, &got, nullptr));
    EXPECT_EQ(byte, 'x');
    CloseHandle(h);
}

TEST(CreateFile, ReadSharingIsRefusedWhileAnotherProcessWrites) {
    TempTree tree;
    CString path = LinuxPathToDos(tree.File("busy.bin", "data"));
    HeldForWriting writer;
    ASSERT_NO_FATAL_FAILURE(writer.Hold(tree.Path("busy.bin")));
    ASSERT_TRUE(writer.Opened());

    EXPECT_EQ(OpenForReading(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    HANDLE shared = OpenForReading(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_NE(shared, INVALID_HANDLE_VALUE);
    CloseHandle(shared);

    writer.Release();
    HANDLE free = OpenForReading(path);
    EXPECT_NE(free, INVALID_HANDLE_VALUE);
    CloseHandle(free);
}

TEST(FileMapping, MapsWhatIsThereAndRefusesWhatIsNot) {
    TempTree tree;
    CString empty = LinuxPathToDos(tree.File("empty", ""));
    CString small = LinuxPathToDos(tree.File("small", "MZ-and-more"));

    HANDLE file = OpenForReading(empty);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, nullptr), 0u);
    EXPECT_EQ(CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_COMMIT, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_INVALID);
    CloseHandle(file);

    file = OpenForReading(small);
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(file, &high), 11u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 12, nullptr), nullptr); // past the end
    EXPECT_EQ(CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr); // read-only file
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_COMMIT, 0, 11, nullptr);
    ASSERT_NE(mapping, nullptr);
    // The mapping keeps the file; its handle may go first.
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 1, 4), nullptr); // misaligned offset
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 12), nullptr);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0), nullptr);
    auto* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::string(view, 11), "MZ-and-more");
    EXPECT_EQ(velmora::kernel::MappedViewCount(), 1u);
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view));
    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_EQ(velmora::kernel::MappedViewCount(), 0u);
}

TEST(FileMapping, AViewOfAFileThatShrinksReadsZerosInsteadOfFaulting) {
    TempTree tree;
    long page = sysconf(_SC_PAGESIZE);
    std::string path = tree.File("shrinking", std::string(static_cast<std::size_t>(3 * page), 'A'));
    HANDLE file = OpenForReading(LinuxPathToDos(path));
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    auto* view = static_cast<const volatile char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(truncate(path.c_str(), 10), 0);
    EXPECT_EQ(view[0], 'A');
    EXPECT_EQ(view[2 * page + 5], 0);
    UnmapViewOfFile(const_cast<const char*>(view));
    CloseHandle(mapping);
    CloseHandle(file);
}

// A small view of a file no one else may write is read rather than mapped; with write sharing it
// must stay a mapping, so that what another writer puts in the file shows through. Either way the
// view is page-aligned and a file that shrinks under it never faults.
TEST(FileMapping, SmallViewsShowTheFileAsTheSharingRuleAllows) {
    long page = sysconf(_SC_PAGESIZE);
    struct Case {
        DWORD share;
        std::size_t size;
        bool showsLaterWrites;
        DWORD access = GENERIC_READ;
    } cases[] = {
        {FILE_SHARE_READ, 1, false},
        {FILE_SHARE_READ, static_cast<std::size_t>(2 * page), false},
        {FILE_SHARE_READ, static_cast<std::size_t>(2 * page + 1), true},
        {FILE_SHARE_READ | FILE_SHARE_WRITE, 100, true},
        {FILE_SHARE_READ, 100, true, GENERIC_READ | GENERIC_WRITE}, // the handle's own writes show
    };
    for (const auto& c : cases) {
        TempTree tree;
        std::string path = tree.File("file", std::string(c.size, 'A'));
        HANDLE file = CreateFileW(LinuxPathToDos(path), c.access, c.share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_COMMIT, 0, 0, nullptr);
        auto* view = static_cast<const volatile char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
        ASSERT_NE(view, nullptr) << c.size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(view) % static_cast<std::uintptr_t>(page), 0u) << c.size;

        int writer = open(path.c_str(), O_WRONLY);
        ASSERT_EQ(pwrite(writer, "B", 1, 0), 1);
        close(writer);
        EXPECT_EQ(view[0], c.showsLaterWrites ? 'B' : 'A') << c.size << " share " << c.share;
        ASSERT_EQ(truncate(path.c_str(), 0), 0);
        EXPECT_EQ(view[c.size - 1], c.showsLaterWrites ? 0 : 'A') << c.size;

        EXPECT_TRUE(UnmapViewOfFile(const_cast<const char*>(view)));
        EXPECT_FALSE(UnmapViewOfFile(const_cast<const char*>(view)));
        CloseHandle(mapping);
        CloseHandle(file);
        EXPECT_EQ(velmora::kernel::MappedViewCount(), 0u);
    }
}

TEST(Handles, CloseHandleClosesEachKindOnceAndRefusesTheRest) {
    TempTree tree;
    HANDLE file = OpenForReading(LinuxPathToDos(tree.File("f", "abc")));
    int fd = KernelFileDescriptor(file);
    EXPECT_GE(fd, 0);
    char head[3];
    EXPECT_EQ(pread(fd, head, 3, 0), 3);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    EXPECT_EQ(KernelFileDescriptor(mapping), -1);
    EXPECT_EQ(KernelFileDescriptor(INVALID_HANDLE_VALUE), -1);
    EXPECT_EQ(GetFileSize(mapping, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(fcntl(fd, F_GETFD), -1); // the descriptor went with the last owner
    for (HANDLE bad : {file, mapping, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE,
                       reinterpret_cast<HANDLE>(0x1234)}) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST(Files, ReadWriteAndAttributes) {
    TempTree tree;
    tree.Folder("folder");
    tree.Link("folder-link", tree.Path("folder"));
    CString path = LinuxPathToDos(tree.Path("new.txt"));

    HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(out, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    CloseHandle(out);
    EXPECT_EQ(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    HANDLE in = OpenForReading(path);
    EXPECT_EQ(SetFilePointer(in, 1, nullptr, FILE_BEGIN), 1u);
    char buffer[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(in, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "ello");
    CloseHandle(in);

    EXPECT_EQ(GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(GetFileAttributesW(LinuxPathToDos(tree.Path("folder"))) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(GetFileAttributesW(LinuxPathToDos(tree.Path("folder-link"))) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesW(LinuxPathToDos(tree.Path("missing"))), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(nullptr), INVALID_FILE_ATTRIBUTES);

    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExW(path, GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_TRUE(DeleteFileW(path));
    EXPECT_FALSE(GetFileAttributesExW(path, GetFileExInfoStandard, &data));
}

} // namespace
