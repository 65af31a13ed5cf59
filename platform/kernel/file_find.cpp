#include "platform/kernel/file_find.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <utility>
#include <vector>

#include "platform/kernel/dos_paths.h"
#include "platform/kernel/wide_text.h"

using velmora::kernel::FileIdentity;

namespace {

bool IsSeparator(WCHAR c) { return c == u'\\' || c == u'/'; }

bool HasWildcard(const CString& name) { return name.Find(u'*') >= 0 || name.Find(u'?') >= 0; }

// Wildcard match without regard to case: * any run, ? any one unit.
bool WildMatch(const WCHAR* pattern, const WCHAR* name) {
    const WCHAR* star = nullptr;
    const WCHAR* resume = nullptr;
    while (*name) {
        if (*pattern == u'*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == u'?' || (*pattern && WideToLower(*pattern) == WideToLower(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == u'*')
        ++pattern;
    return !*pattern;
}

std::string CurrentFolder() {
    std::vector<char> buffer(PATH_MAX);
    return getcwd(buffer.data(), buffer.size()) ? std::string(buffer.data()) : std::string("/");
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

}  // namespace

CFileFind::~CFileFind() { Close(); }

CFileFind::CFileFind(CFileFind&& other) noexcept { *this = std::move(other); }

CFileFind& CFileFind::operator=(CFileFind&& other) noexcept {
    if (this != &other) {
        Close();
        m_dir = std::exchange(other.m_dir, nullptr);
        m_linuxFolder = std::move(other.m_linuxFolder);
        m_root = std::move(other.m_root);
        m_namePattern = std::move(other.m_namePattern);
        m_matchAll = other.m_matchAll;
        m_dotsPending = other.m_dotsPending;
        m_singleDone = other.m_singleDone;
        m_haveNext = std::exchange(other.m_haveNext, false);
        m_haveCurrent = std::exchange(other.m_haveCurrent, false);
        m_next = std::move(other.m_next);
        m_current = std::move(other.m_current);
        m_statDone = other.m_statDone;
        m_statOk = other.m_statOk;
        m_isDirectory = other.m_isDirectory;
        m_identity = other.m_identity;
    }
    return *this;
}

void CFileFind::Close() {
    if (m_dir) {
        closedir(m_dir);
        m_dir = nullptr;
    }
    m_haveNext = false;
    m_haveCurrent = false;
    m_dotsPending = 0;
    m_singleDone = true;
    m_statDone = false;
}

BOOL CFileFind::FindFile(LPCWSTR pattern, DWORD) {
    Close();
    CString text(pattern ? pattern : u"*.*");
    if (text.GetLength() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    if (text.IsEmpty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }

    int cut = -1;
    for (int i = text.GetLength() - 1; i >= 0; --i)
        if (IsSeparator(text[i])) {
            cut = i;
            break;
        }
    bool hasDrive = text.GetLength() >= 2 && text[1] == u':' && text[0] < 0x80;
    if (cut < 0 && hasDrive)
        cut = 1;  // "C:name"
    CString root = text.Left(cut + 1);
    m_namePattern = text.Mid(cut + 1);
    bool relative = !hasDrive && !IsSeparator(text[0]);
    if (relative) {
        // The framework reports full paths, also for a search relative to the current folder.
        CString current = velmora::kernel::LinuxPathToDos(CurrentFolder());
        if (current.GetLength() > 0 && current[current.GetLength() - 1] != u'\\')
            current += u'\\';
        root = current + root;
    }
    m_root = root;
    if (m_namePattern.IsEmpty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }

    std::u16string_view folderText(root.Text());
    auto exactFolder = velmora::kernel::DosPathToLinuxExact(folderText.empty() ? u"." : folderText);
    if (!exactFolder) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }

    if (!HasWildcard(m_namePattern)) {
        // One named file or folder: found when it exists, under its name as it is on disk.
        std::string folder = *exactFolder;
        std::string name;
        velmora::kernel::AppendDosNameAsLinux(name, m_namePattern.Text());
        struct stat st {};
        if (lstat((WithSlash(folder) + name).c_str(), &st) != 0) {
            auto folded = velmora::kernel::DosPathToLinux(text.Text());
            if (!folded || lstat(folded->c_str(), &st) != 0) {
                SetLastError(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
                return FALSE;
            }
            auto slash = folded->rfind('/');
            folder = folded->substr(0, slash + 1);
            name = folded->substr(slash + 1);
        }
        m_linuxFolder = WithSlash(folder);
        m_next.linuxName = name;
        m_next.name = velmora::kernel::LinuxNameToDos(name);
        m_next.type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        m_singleDone = true;
        m_haveNext = true;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    m_matchAll = m_namePattern == u"*" || m_namePattern == u"*.*";
    std::string folder = *exactFolder;
    m_dir = opendir(folder.c_str());
    if (!m_dir && (errno == ENOENT || errno == ENOTDIR)) {
        auto folded = velmora::kernel::DosPathToLinux(folderText);
        if (folded && *folded != folder) {
            folder = *folded;
            m_dir = opendir(folder.c_str());
        }
    }
    if (!m_dir) {
        SetLastError(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    m_linuxFolder = WithSlash(folder);
    m_singleDone = false;
    m_dotsPending = 2;
    m_haveNext = FetchNext(m_next);
    if (!m_haveNext) {
        Close();
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

bool CFileFind::Matches(const CString& name) const {
    if (m_matchAll)
        return true;
    if (WildMatch(m_namePattern.GetString(), name.GetString()))
        return true;
    // "name.*" also matches "name" with no extension at all.
    int length = m_namePattern.GetLength();
    if (length >= 2 && m_namePattern[length - 1] == u'*' && m_namePattern[length - 2] == u'.' &&
        name.Find(u'.') < 0)
        return WildMatch(m_namePattern.Left(length - 2).GetString(), name.GetString());
    return false;
}

bool CFileFind::FetchNext(Entry& entry) {
    while (m_dotsPending > 0) {
        // "." and ".." first, whatever order the file system keeps them in.
        const char* dots = m_dotsPending == 2 ? "." : "..";
        --m_dotsPending;
        CString name = CString::FromUtf8(dots);
        if (Matches(name)) {
            entry.linuxName = dots;
            entry.name = std::move(name);
            entry.type = DT_DIR;
            return true;
        }
    }
    if (!m_dir)
        return false;
    while (dirent* found = readdir(m_dir)) {
        const char* n = found->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        CString name = velmora::kernel::LinuxNameToDos(n);
        if (!Matches(name))
            continue;
        entry.linuxName = n;
        entry.name = std::move(name);
        entry.type = found->d_type;
        return true;
    }
    return false;
}

BOOL CFileFind::FindNextFile() {
    if (!m_haveNext) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    std::swap(m_current, m_next);
    m_haveCurrent = true;
    m_statDone = false;
    m_haveNext = FetchNext(m_next);
    if (!m_haveNext && m_dir) {
        closedir(m_dir);
        m_dir = nullptr;
    }
    return m_haveNext ? TRUE : FALSE;
}

CString CFileFind::GetFilePath() const { return m_haveCurrent ? m_root + m_current.name : CString(); }

CString CFileFind::GetFileName() const { return m_haveCurrent ? m_current.name : CString(); }

void CFileFind::Stat() const {
    if (m_statDone)
        return;
    m_statDone = true;
    struct stat st {};
    std::string path = m_linuxFolder + m_current.linuxName;
    m_statOk = stat(path.c_str(), &st) == 0;
    if (m_statOk) {
        m_isDirectory = S_ISDIR(st.st_mode);
        m_identity = FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    } else {
        m_isDirectory = false;
    }
}

BOOL CFileFind::IsDirectory() const {
    if (!m_haveCurrent)
        return FALSE;
    switch (m_current.type) {
    case DT_DIR:
        return TRUE;
    case DT_LNK:
    case DT_UNKNOWN:
        Stat();
        return m_isDirectory ? TRUE : FALSE;
    default:
        return FALSE;
    }
}

BOOL CFileFind::IsDots() const {
    return m_haveCurrent && (m_current.linuxName == "." || m_current.linuxName == "..") ? TRUE : FALSE;
}

std::optional<FileIdentity> CFileFind::GetFileIdentity() const {
    if (!m_haveCurrent)
        return std::nullopt;
    Stat();
    if (!m_statOk)
        return std::nullopt;
    return m_identity;
}
