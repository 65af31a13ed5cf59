// Fixture trees for the scan tests: a temporary Wine-style prefix whose drives are folders the
// test fills, and helpers that write small files into them.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/kernel/cstring.h"

namespace scantest {

namespace fs = std::filesystem;

// Smallest kind of file the executable test accepts: "MZ", e_lfanew at 0x3C, "PE\0\0" there.
inline std::vector<char> PeBytes(std::size_t size = 512) {
    std::vector<char> bytes(size, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = static_cast<char>(0x80);
    bytes[0x80] = 'P';
    bytes[0x81] = 'E';
    return bytes;
}

// "MZ" and no PE header, as an MS-DOS program has it.
inline std::vector<char> MzOnlyBytes() {
    std::vector<char> bytes(512, 0x20);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = static_cast<char>(0x80);
    return bytes;
}

inline void WriteFile(const fs::path& path, const std::vector<char>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const fs::path& path, const std::string& text) { WriteFile(path, {text.begin(), text.end()}); }

inline void CopyFile(const fs::path& from, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

// A fresh folder with a prefix in it: $WINEPREFIX/dosdevices/<letter>: links to <root>/drive_<letter>.
class Prefix {
public:
    Prefix() {
        std::string base = (fs::temp_directory_path() / "velmora-scan-XXXXXX").string();
        std::vector<char> name(base.begin(), base.end());
        name.push_back('\0');
        m_root = mkdtemp(name.data());
        fs::create_directories(m_root / "prefix" / "dosdevices");
        setenv("WINEPREFIX", (m_root / "prefix").c_str(), 1);
    }
    ~Prefix() {
        std::error_code ignored;
        fs::permissions(m_root, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_root, ignored);
    }
    Prefix(const Prefix&) = delete;
    Prefix& operator=(const Prefix&) = delete;

    // Makes drive <letter> (lower case) a link to a new folder and returns that folder.
    fs::path AddDrive(char letter) {
        fs::path folder = m_root / (std::string("drive_") + letter);
        fs::create_directories(folder);
        fs::create_directory_symlink(folder, Devices() / (std::string(1, letter) + ":"));
        return folder;
    }
    // A drive whose link leads nowhere.
    void AddBrokenDrive(char letter) {
        fs::create_directory_symlink(m_root / "missing", Devices() / (std::string(1, letter) + ":"));
    }
    // A drive linked to a given folder.
    void AddDriveAt(char letter, const fs::path& folder) {
        fs::create_directory_symlink(folder, Devices() / (std::string(1, letter) + ":"));
    }

    fs::path Root() const { return m_root; }
    fs::path Devices() const { return m_root / "prefix" / "dosdevices"; }

private:
    fs::path m_root;
};

// The DOS path of something under a drive folder: "D:" + the rest with backslashes.
inline CString Dos(char letter, const std::string& rest = "") {
    std::string text = std::string(1, static_cast<char>(letter - 'a' + 'A')) + ":\\";
    for (char c : rest)
        text += c == '/' ? '\\' : c;
    return CString::FromUtf8(text);
}

inline std::string Utf8(const CString& text) { return text.ToUtf8(); }

// The generated trust fixtures (signed, unsigned, catalogued, tampered images), or empty.
// The fixtures of this build, unless VELMORA_FIXTURES names others.
inline fs::path FixturesFolder() {
    if (const char* folder = std::getenv("VELMORA_FIXTURES"))
        return fs::path(folder);
#ifdef VELMORA_FIXTURES_DIR
    return fs::path(VELMORA_FIXTURES_DIR);
#else
    return fs::path();
#endif
}

}  // namespace scantest
