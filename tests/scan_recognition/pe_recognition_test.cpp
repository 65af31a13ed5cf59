#include "scan/pe_recognition.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/kernel/cstring.h"
#include "platform/kernel/dos_paths.h"
#include "platform/kernel/file_api.h"
#include "platform/kernel/kernel_object.h"
#include "tests/kernel/held_for_writing.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, std::size_t at, unsigned v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// The headers of an image: "MZ", e_lfanew, "PE\0\0", a file header and the start of an optional
// header (what real images carry, though the test looks at none of it).
Bytes Image(std::size_t size, std::int64_t lfanew = 0x80, unsigned machine = 0x14C, unsigned optionalMagic = 0x10B,
            unsigned characteristics = 0x0102, unsigned subsystem = 2) {
    Bytes b(size, 0);
    if (size >= 2)
        b[0] = 'M', b[1] = 'Z';
    if (size >= 64)
        Put32(b, 60, static_cast<std::uint32_t>(lfanew));
    if (lfanew >= 0 && static_cast<std::size_t>(lfanew) + 24 + 70 <= size) {
        auto at = static_cast<std::size_t>(lfanew);
        std::memcpy(&b[at], "PE\0\0", 4);
        Put16(b, at + 4, machine);
        Put16(b, at + 20, optionalMagic == 0x20B ? 240 : 224);
        Put16(b, at + 22, characteristics);
        Put16(b, at + 24, optionalMagic);
        Put16(b, at + 24 + 68, subsystem);
    } else if (lfanew >= 0 && static_cast<std::size_t>(lfanew) + 4 <= size) {
        std::memcpy(&b[static_cast<std::size_t>(lfanew)], "PE\0\0", 4);
    }
    return b;
}

Bytes With(Bytes b, std::size_t at, std::string_view bytes) {
    std::memcpy(&b[at], bytes.data(), bytes.size());
    return b;
}

struct Case {
    const char* what;
    Bytes bytes;
    bool pe;
};

std::vector<Case> HeaderCases() {
    return {
        {"312 bytes with both signatures", Image(312, 0x80), false},
        {"313 bytes with both signatures", Image(313, 0x80), true},
        {"e_lfanew exactly half the size", Image(400, 200), true},
        {"e_lfanew one past half the size", Image(400, 201), false},
        {"e_lfanew negative", Image(1024, -4), false},
        {"e_lfanew the most negative", Image(1024, INT32_MIN), false},
        {"e_lfanew far past the end", Image(1024, 0x7FFFFFFF), false},
        {"MZ without a PE header (MS-DOS program)", With(Image(1024, 0x40), 0x40, std::string("\x0E\x1F\xBA\x0E", 4)), false},
        {"PE followed by other bytes", With(Image(1024), 0x80, std::string("PE\0\1", 4)), false},
        {"PE followed by other bytes (2)", With(Image(1024), 0x80, std::string("PE\1\0", 4)), false},
        {"NE header of a 16-bit program", With(Image(1024), 0x80, std::string("NE\0\0", 4)), false},
        {"ZM instead of MZ", With(Image(1024), 0, "ZM"), false},
        {"mz in lower case", With(Image(1024), 0, "mz"), false},
        {"PE32 program", Image(4096, 0xE8, 0x14C, 0x10B, 0x0102, 2), true},
        {"PE32+ program", Image(4096, 0xF0, 0x8664, 0x20B, 0x0022, 3), true},
        {"library", Image(4096, 0x80, 0x8664, 0x20B, 0x2022, 2), true},
        {"driver", Image(4096, 0xD8, 0x8664, 0x20B, 0x0022, 1), true},
        {"e_lfanew 0: the PE signature would overlap MZ", Image(1024, 0), false},
        {"two bytes", Image(2), false},
        {"empty", Bytes{}, false},
    };
}

// Places bytes directly before and directly after an inaccessible page, so that any read outside
// them faults.
class GuardedBytes {
public:
    GuardedBytes(const Bytes& bytes, bool againstEnd) {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        std::size_t dataPages = (bytes.size() + page_ - 1) / page_ + 1;
        length_ = (dataPages + 2) * page_;
        base_ = static_cast<unsigned char*>(mmap(nullptr, length_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base_ + page_, dataPages * page_, PROT_READ | PROT_WRITE);
        data_ = againstEnd ? base_ + page_ + dataPages * page_ - bytes.size() : base_ + page_;
        if (!bytes.empty())
            std::memcpy(data_, bytes.data(), bytes.size());
    }
    ~GuardedBytes() { munmap(base_, length_); }
    const unsigned char* Data() const { return data_; }

private:
    std::size_t page_, length_;
    unsigned char* base_;
    unsigned char* data_;
};

TEST(CheckPeHeaders, JudgesByTheSignaturesAndReadsNothingOutsideTheView) {
    for (const auto& c : HeaderCases()) {
        for (bool againstEnd : {false, true}) {
            GuardedBytes view(c.bytes, againstEnd);
            EXPECT_EQ(CheckPeHeaders(view.Data(), static_cast<DWORD>(c.bytes.size())) != FALSE, c.pe) << c.what;
        }
    }
    EXPECT_FALSE(CheckPeHeaders(nullptr, 4096));
    Bytes image = Image(4096);
    EXPECT_FALSE(CheckPeHeaders(image.data(), 0));
}

class Files : public ::testing::Test {
protected:
    std::string root;
    void SetUp() override {
        char pattern[] = "/tmp/velmora-pe-XXXXXX";
        root = mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(root); }
    CString Write(const std::string& name, const Bytes& bytes) {
        std::ofstream(root + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return velmora::kernel::LinuxPathToDos(root + "/" + name);
    }
};

TEST_F(Files, IsPeFileGivesTheHeaderVerdictWhateverTheFileIsCalled) {
    const char* names[] = {"a.exe", "b.dll", "c.sys", "d.txt", "no-extension", "E.JPG"};
    int i = 0;
    for (const auto& c : HeaderCases()) {
        CString path = Write(std::string(names[i % 6]) + "-" + std::to_string(i), c.bytes);
        ++i;
        EXPECT_EQ(IsPeFile(path) != FALSE, c.pe) << c.what;
    }
}

TEST_F(Files, WhatCannotBeOpenedIsNotAnExecutable) {
    ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0644), 0);
    std::filesystem::create_directory(root + "/folder.exe");
    std::filesystem::create_directory_symlink(root + "/folder.exe", root + "/link.exe");
    auto dos = [](const std::string& p) { return velmora::kernel::LinuxPathToDos(p); };
    EXPECT_FALSE(IsPeFile(dos(root + "/fifo")));  // returns at once: no writer would ever come
    EXPECT_FALSE(IsPeFile(dos(root + "/folder.exe")));
    EXPECT_FALSE(IsPeFile(dos(root + "/link.exe")));
    EXPECT_FALSE(IsPeFile(dos(root + "/missing.exe")));
    EXPECT_FALSE(IsPeFile(dos("/dev/zero")));
    EXPECT_FALSE(IsPeFile(dos("/dev/null")));
    EXPECT_FALSE(IsPeFile(u"Q:\\no\\such\\drive.exe"));
    EXPECT_FALSE(IsPeFile(u""));
    EXPECT_FALSE(IsPeFile(nullptr));
}

TEST_F(Files, AnExecutableHeldOpenForWritingElsewhereIsRejectedUntilItIsClosed) {
    CString path = Write("busy.exe", Image(4096));
    HeldForWriting writer;
    ASSERT_NO_FATAL_FAILURE(writer.Hold(root + "/busy.exe"));
    EXPECT_FALSE(IsPeFile(path));
    writer.Release();
    EXPECT_TRUE(IsPeFile(path));
}

std::size_t CountEntries(const char* folder) {
    std::size_t n = 0;
    if (DIR* dir = opendir(folder)) {
        while (readdir(dir))
            ++n;
        closedir(dir);
    }
    return n;
}

std::size_t CountLinesMentioning(const char* file, const std::string& text) {
    std::ifstream in(file);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.find(text) != std::string::npos;
    return n;
}

TEST_F(Files, TenThousandCallsLeaveNoDescriptorHandleOrMappingBehind) {
    CString files[] = {
        Write("pass.exe", Image(8192)),
        Write("mz-only.exe", With(Image(8192), 0x80, "XX")),
        Write("small.exe", Image(200)),
        Write("empty.exe", {}),
        velmora::kernel::LinuxPathToDos(root + "/missing.exe"),
    };
    bool expected[] = {true, false, false, false, false};
    // Warm up whatever the first calls allocate once.
    for (const auto& f : files)
        IsPeFile(f);
    std::size_t fds = CountEntries("/proc/self/fd");
    // Only mappings of this test's files count: the allocator (under AddressSanitizer above all)
    // maps memory of its own as it goes.
    std::size_t maps = CountLinesMentioning("/proc/self/maps", root);
    std::size_t handles = velmora::kernel::OpenKernelHandleCount();
    int wrong = 0;
    for (int i = 0; i < 10000; ++i)
        wrong += (IsPeFile(files[i % 5]) != FALSE) != expected[i % 5];
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(CountLinesMentioning("/proc/self/maps", root), maps);
    EXPECT_EQ(maps, 0u);
    EXPECT_EQ(velmora::kernel::OpenKernelHandleCount(), handles);
    EXPECT_EQ(velmora::kernel::MappedViewCount(), 0u);
}

}  // namespace
