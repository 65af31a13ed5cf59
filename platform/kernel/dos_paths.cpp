#include "platform/kernel/dos_paths.h"

#include <dirent.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <climits>
#include <mutex>
#include <vector>

#include "platform/kernel/wide_text.h"

namespace velmora::kernel {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

int DriveIndex(char16_t letter) {
    if (letter >= u'a' && letter <= u'z')
        return letter - u'a';
    if (letter >= u'A' && letter <= u'Z')
        return letter - u'A';
    return -1;
}

std::string CurrentFolder() {
    std::vector<char> buffer(PATH_MAX);
    if (!getcwd(buffer.data(), buffer.size()))
        return "/";
    return buffer.data();
}

std::string JoinLinux(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

// Removes "." and ".." (not above the first component) and doubled slashes from an absolute path.
std::string NormalizeLinux(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= path.size()) {
        std::size_t j = path.find('/', i);
        if (j == std::string::npos)
            j = path.size();
        std::string part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    std::string out;
    for (const auto& part : parts)
        out += "/" + part;
    return out.empty() ? "/" : out;
}

// The drive table, read from the dosdevices folder again whenever that folder changes.
struct DriveTable {
    std::string folder;
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{};
    bool valid = false;
    std::array<std::optional<std::string>, 26> drives;
};

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

std::mutex g_tableLock;
DriveTable g_table;
std::chrono::steady_clock::time_point g_tableChecked;

// What DosDevicesFolder() was computed from, so that the environment can be compared with what
// it was without building the folder's name again on every path.
struct FolderKey {
    bool hasPrefix = false;
    std::string prefix;
    bool hasHome = false;
    std::string home;
};
FolderKey g_folderKey;

bool SameVariable(const char* now, bool had, const std::string& before) {
    bool has = now && *now;
    return has == had && (!has || before == now);
}

// The table is looked at again when the dosdevices folder in use changes, and otherwise at most
// every half second: a scan maps a path for every file it visits.
constexpr auto kRecheckInterval = std::chrono::milliseconds(500);

const std::array<std::optional<std::string>, 26>& SnapshotDrivesLocked() {
    const char* prefix = getenv("WINEPREFIX");
    const char* home = getenv("HOME");
    auto now = std::chrono::steady_clock::now();
    DriveTable& table = g_table;
    if (table.valid && now - g_tableChecked < kRecheckInterval &&
        SameVariable(prefix, g_folderKey.hasPrefix, g_folderKey.prefix) &&
        SameVariable(home, g_folderKey.hasHome, g_folderKey.home))
        return table.drives;
    g_folderKey.hasPrefix = prefix && *prefix;
    g_folderKey.prefix = g_folderKey.hasPrefix ? prefix : "";
    g_folderKey.hasHome = home && *home;
    g_folderKey.home = g_folderKey.hasHome ? home : "";
    std::string folder = DosDevicesFolder();
    g_tableChecked = now;

    struct stat st {};
    bool exists = stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (table.valid && table.folder == folder && table.exists == exists &&
        (!exists || (table.device == st.st_dev && table.inode == st.st_ino &&
                     SameTime(table.modified, st.st_mtim) && SameTime(table.changed, st.st_ctim))))
        return table.drives;

    table = DriveTable{};
    table.folder = folder;
    table.exists = exists;
    table.valid = true;
    if (!exists) {
        table.drives[25] = "/";
        return table.drives;
    }
    table.device = st.st_dev;
    table.inode = st.st_ino;
    table.modified = st.st_mtim;
    table.changed = st.st_ctim;
    for (int i = 0; i < 26; ++i) {
        std::string entry = JoinLinux(folder, std::string(1, static_cast<char>('a' + i)) + ":");
        struct stat link {};
        if (lstat(entry.c_str(), &link) != 0)
            continue;
        if (S_ISLNK(link.st_mode)) {
            std::vector<char> target(PATH_MAX + 1);
            ssize_t n = readlink(entry.c_str(), target.data(), PATH_MAX);
            if (n <= 0)
                continue;
            std::string text(target.data(), static_cast<std::size_t>(n));
            table.drives[i] = NormalizeLinux(text[0] == '/' ? text : JoinLinux(folder, text));
        } else if (S_ISDIR(link.st_mode)) {
            table.drives[i] = NormalizeLinux(entry);
        }
    }
    return table.drives;
}

std::optional<std::string> DriveFolderOf(int index) {
    std::lock_guard guard(g_tableLock);
    return SnapshotDrivesLocked()[static_cast<std::size_t>(index)];
}

// Appends the drive's folder to out; false when there is no such drive.
bool AppendDriveFolder(char16_t letter, std::string& out) {
    int index = DriveIndex(letter);
    if (index < 0)
        return false;
    std::lock_guard guard(g_tableLock);
    const auto& folder = SnapshotDrivesLocked()[static_cast<std::size_t>(index)];
    if (!folder)
        return false;
    out += *folder;
    return true;
}

std::array<std::optional<std::string>, 26> SnapshotDrives() {
    std::lock_guard guard(g_tableLock);
    return SnapshotDrivesLocked();
}

struct ParsedDos {
    std::string base;                         // Linux folder the components start from
    std::vector<std::u16string_view> parts;   // the names below it (views into the DOS path),
                                              // "." and ".." already resolved
};

std::optional<ParsedDos> ParseDos(std::u16string_view path) {
    if (path.empty())
        return std::nullopt;
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == u'?' &&
        IsSeparator(path[3]))
        path.remove_prefix(4);
    if (path.empty())
        return std::nullopt;

    ParsedDos parsed;
    std::u16string_view rest;
    bool resolveDots = true;
    if (path[0] == u'/' && !(path.size() > 1 && path[1] == u'/')) {
        // A Linux path as it stands.
        parsed.base = "/";
        rest = path.substr(1);
        resolveDots = false;
    } else if (path.size() >= 2 && IsLetter(path[0]) && path[1] == u':') {
        parsed.base.reserve(64 + path.size());
        if (!AppendDriveFolder(path[0], parsed.base))
            return std::nullopt;
        rest = path.substr(2);
    } else if (IsSeparator(path[0])) {
        if (path.size() > 1 && IsSeparator(path[1]))
            return std::nullopt;  // \\server\share: no network names here
        CString current = LinuxPathToDos(CurrentFolder());
        if (!AppendDriveFolder(current[0], parsed.base))
            return std::nullopt;
        rest = path.substr(1);
    } else {
        parsed.base = CurrentFolder();
        rest = path;
        resolveDots = false;  // relative names resolve on disk, from the current folder
    }

    parsed.parts.reserve(16);
    std::size_t i = 0;
    while (i <= rest.size()) {
        std::size_t j = i;
        while (j < rest.size() && !IsSeparator(rest[j]))
            ++j;
        std::u16string_view part = rest.substr(i, j - i);
        if (part.empty() || (resolveDots && part == u".")) {
            // nothing
        } else if (resolveDots && part == u"..") {
            if (!parsed.parts.empty())
                parsed.parts.pop_back();
        } else {
            parsed.parts.push_back(part);
        }
        i = j + 1;
    }
    return parsed;
}

void AppendPart(std::string& out, std::u16string_view part) {
    if (out.empty() || out.back() != '/')
        out += '/';
    AppendDosNameAsLinux(out, part);
}

std::string Assemble(ParsedDos& parsed) {
    std::string out = std::move(parsed.base);
    for (auto part : parsed.parts)
        AppendPart(out, part);
    return out;
}

std::optional<std::string> FindNoCase(const std::string& folder, std::u16string_view part) {
    std::u16string name(part);
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return std::nullopt;
    std::optional<std::string> found;
    while (dirent* entry = readdir(dir)) {
        if (WideCompareNoCase(LinuxNameToDos(entry->d_name).GetString(), name.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

void RefreshDrives() {
    std::lock_guard guard(g_tableLock);
    g_table.valid = false;
}

std::string DosDevicesFolder() {
    const char* prefix = getenv("WINEPREFIX");
    if (prefix && *prefix)
        return JoinLinux(prefix, "dosdevices");
    const char* home = getenv("HOME");
    std::string homeFolder = home && *home ? home : "";
    if (homeFolder.empty()) {
        if (passwd* pw = getpwuid(getuid()))
            homeFolder = pw->pw_dir ? pw->pw_dir : "/";
    }
    return JoinLinux(JoinLinux(homeFolder, ".wine"), "dosdevices");
}

std::optional<std::string> DriveFolder(WCHAR letter) {
    int index = DriveIndex(letter);
    if (index < 0)
        return std::nullopt;
    return DriveFolderOf(index);
}

std::optional<std::string> DosPathToLinuxExact(std::u16string_view dosPath) {
    auto parsed = ParseDos(dosPath);
    if (!parsed)
        return std::nullopt;
    return Assemble(*parsed);
}

std::optional<std::string> DosPathToLinux(std::u16string_view dosPath) {
    auto parsed = ParseDos(dosPath);
    if (!parsed)
        return std::nullopt;
    std::string base = parsed->base;
    std::string exact = Assemble(*parsed);
    struct stat st {};
    if (lstat(exact.c_str(), &st) == 0)
        return exact;
    std::string current = std::move(base);
    for (std::size_t i = 0; i < parsed->parts.size(); ++i) {
        std::u16string_view part = parsed->parts[i];
        std::string candidate = current;
        AppendPart(candidate, part);
        if (lstat(candidate.c_str(), &st) == 0) {
            current = std::move(candidate);
            continue;
        }
        auto match = FindNoCase(current, part);
        if (!match) {
            // The rest does not exist: keep it as written.
            for (std::size_t k = i; k < parsed->parts.size(); ++k)
                AppendPart(current, parsed->parts[k]);
            return current;
        }
        current = JoinLinux(current, *match);
    }
    return current;
}

CString LinuxPathToDos(const std::string& linuxPath) {
    std::string absolute = NormalizeLinux(linuxPath.empty() || linuxPath[0] != '/'
                                              ? JoinLinux(CurrentFolder(), linuxPath)
                                              : linuxPath);
    std::vector<std::string> forms{absolute};
    if (char* real = realpath(absolute.c_str(), nullptr)) {
        if (absolute != real)
            forms.emplace_back(real);
        free(real);
    }

    auto drives = SnapshotDrives();
    int bestDrive = -1;
    std::size_t bestLength = 0;
    std::string bestRest;
    for (int i = 0; i < 26; ++i) {
        const auto& folder = drives[static_cast<std::size_t>(i)];
        if (!folder)
            continue;
        std::vector<std::string> targets{*folder};
        if (char* real = realpath(folder->c_str(), nullptr)) {
            if (*folder != real)
                targets.emplace_back(real);
            free(real);
        }
        for (const auto& target : targets) {
            for (const auto& form : forms) {
                bool under = target == "/" || form == target ||
                             (form.size() > target.size() && form.compare(0, target.size(), target) == 0 &&
                              form[target.size()] == '/');
                if (!under)
                    continue;
                std::size_t length = target == "/" ? 0 : target.size();
                // The closest drive wins; among equals the later letter (Z: is the fallback).
                if (bestDrive < 0 || length > bestLength ||
                    (length == bestLength && form.size() - length < bestRest.size())) {
                    bestDrive = i;
                    bestLength = length;
                    bestRest = form.substr(length);
                }
            }
        }
    }
    if (bestDrive < 0) {
        bestDrive = 25;
        bestRest = absolute;
    }
    std::u16string out;
    out += static_cast<char16_t>(u'A' + bestDrive);
    out += u":\\";
    std::u16string rest = Utf8ToUtf16(bestRest);
    std::size_t start = 0;
    while (start < rest.size() && rest[start] == u'/')
        ++start;
    for (std::size_t k = start; k < rest.size(); ++k)
        out += rest[k] == u'/' ? u'\\' : rest[k] == u'\\' ? kBackslashInName : rest[k];
    return CString(out);
}

CString LinuxNameToDos(std::string_view linuxName) {
    std::u16string name = Utf8ToUtf16(linuxName);
    for (auto& c : name)
        if (c == u'\\')
            c = kBackslashInName;
    return CString(name);
}

void AppendDosNameAsLinux(std::string& out, std::u16string_view dosName) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= dosName.size(); ++i) {
        if (i == dosName.size() || dosName[i] == kBackslashInName) {
            AppendUtf16AsUtf8(out, dosName.substr(start, i - start));
            if (i < dosName.size())
                out += '\\';
            start = i + 1;
        }
    }
}

UINT DriveTypeFromFileSystem(long magic) {
    switch (static_cast<std::uint32_t>(magic)) {
    case 0x9660:      // iso9660
    case 0x15013346:  // udf
        return DRIVE_CDROM;
    case 0x6969:      // nfs
    case 0x517B:      // smb
    case 0xFF534D42:  // cifs
    case 0xFE534D42:  // smb2
    case 0x564C:      // ncp
    case 0x73757245:  // coda
    case 0x5346414F:  // afs
    case 0x6B414653:  // kafs
    case 0x00C36400:  // ceph
    case 0x01021997:  // 9p
        return DRIVE_REMOTE;
    default:
        return DRIVE_FIXED;
    }
}

}  // namespace velmora::kernel

extern "C" UINT GetDriveTypeW(LPCWSTR lpRootPathName) {
    using namespace velmora::kernel;
    std::optional<std::string> folder;
    if (!lpRootPathName) {
        CString current = LinuxPathToDos(CurrentFolder());
        folder = DriveFolder(current[0]);
    } else {
        std::u16string_view root(lpRootPathName);
        bool isRoot = root.size() >= 2 && IsLetter(root[0]) && root[1] == u':' &&
                      (root.size() == 2 || (root.size() == 3 && IsSeparator(root[2])));
        folder = isRoot ? DriveFolder(root[0]) : DosPathToLinux(root);
    }
    if (!folder)
        return DRIVE_NO_ROOT_DIR;
    struct stat st {};
    struct statfs fs {};
    if (stat(folder->c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || statfs(folder->c_str(), &fs) != 0)
        return DRIVE_NO_ROOT_DIR;
    return DriveTypeFromFileSystem(static_cast<long>(fs.f_type));
}
