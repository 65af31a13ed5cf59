// CFileFind: a search of one folder, or for one named file.
//
// FindFile(pattern) takes "dir\*.*" (any wildcards in the last name: * and ?, matched without
// regard to case; "*" and "*.*" match every name) or the path of one file or folder. A pattern of
// MAX_PATH (260) characters or more does not start. The entries "." and ".." come first, as the
// platform reports them, then the folder's other entries in the order the file system gives.
// A symbolic link to a folder counts as a folder.
//
// Usage as the framework has it: FindFile() says whether anything was found; then each
// FindNextFile() moves to the next entry and says whether another one follows it.
#pragma once

#include <dirent.h>

#include <optional>
#include <string>

#include "platform/kernel/cstring.h"
#include "platform/kernel/win_types.h"

namespace velmora::kernel {

// Device and inode of a file or folder (of the target, for a symbolic link).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

}  // namespace velmora::kernel

class CFileFind {
public:
    CFileFind() = default;
    ~CFileFind();
    CFileFind(CFileFind&& other) noexcept;
    CFileFind& operator=(CFileFind&& other) noexcept;
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // null is "*.*" in the current folder. FALSE when nothing matches or the search cannot start
    // (the last error says why: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
    // ERROR_FILENAME_EXCED_RANGE, ...).
    BOOL FindFile(LPCWSTR pattern = nullptr, DWORD flags = 0);
    BOOL FindNextFile();
    void Close();

    // Of the current entry (after FindNextFile): the search folder joined with its name; the name.
    CString GetFilePath() const;
    CString GetFileName() const;
    CString GetRoot() const { return m_root; }
    BOOL IsDirectory() const;
    BOOL IsDots() const;

    // Device and inode of the current entry, nullopt when it can no longer be read. One stat at
    // most per entry, and none unless asked.
    std::optional<velmora::kernel::FileIdentity> GetFileIdentity() const;

private:
    struct Entry {
        std::string linuxName;  // the name as it is on disk
        CString name;
        unsigned char type = DT_UNKNOWN;
    };

    bool FetchNext(Entry& entry);
    bool Matches(const CString& name) const;
    void Stat() const;

    DIR* m_dir = nullptr;
    std::string m_linuxFolder;  // with a trailing '/'
    CString m_root;             // the pattern's folder part as the caller wrote it, with its separator
    CString m_namePattern;
    bool m_matchAll = false;
    int m_dotsPending = 0;  // "." and ".." still to report before the folder's own entries
    bool m_singleDone = false;
    bool m_haveNext = false;
    bool m_haveCurrent = false;
    Entry m_next;
    Entry m_current;

    mutable bool m_statDone = false;
    mutable bool m_statOk = false;
    mutable bool m_isDirectory = false;
    mutable velmora::kernel::FileIdentity m_identity;
};
