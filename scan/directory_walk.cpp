#include "scan/directory_walk.h"

#include <sys/stat.h>

#include "platform/kernel/dos_paths.h"
#include "platform/kernel/file_api.h"
#include "scan/pe_recognition.h"

using velmora::kernel::FileIdentity;

namespace {

// The identity of a start folder; its subfolders' identities come from their parent's search.
std::optional<FileIdentity> FolderIdentity(const CString& path) {
    auto linux = velmora::kernel::DosPathToLinux(path.Text());
    struct stat info;
    if (!linux || stat(linux->c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

} // namespace

CString ScanPattern(const CString& path, DWORD attributes) {
    // A path whose attributes cannot be read has every bit set and is searched as a folder; its
    // search then simply finds nothing.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return path;
    CString pattern;
    if (path.GetAt(path.GetLength() - 1) != u'\\')
        pattern.Format(u"%s\\*.*", path.GetString());
    else
        pattern.Format(u"%s*.*", path.GetString());
    return pattern;
}

bool DirectoryWalk::CheckStop() {
    if (!m_stopped && m_sink.ShouldStop())
        m_stopped = true;
    return m_stopped;
}

bool DirectoryWalk::EnterOnce(const FileIdentity& identity) {
    return m_entered.insert(identity).second;
}

void DirectoryWalk::Walk(const CString& path) {
    if (CheckStop())
        return;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (auto identity = FolderIdentity(path); identity && !EnterOnce(*identity))
            return;
    }
    WalkPattern(path, attributes);
}

void DirectoryWalk::WalkPattern(const CString& path, DWORD attributes) {
    CString pattern = ScanPattern(path, attributes);

    CFileFind finder;
    BOOL bMore = finder.FindFile(pattern);
    while (bMore) {
        if (CheckStop())
            break;
        bMore = finder.FindNextFile();
        CString fullPath = finder.GetFilePath();
        m_sink.ShowEntry(fullPath);

        if (finder.IsDirectory()) {
            if (!finder.IsDots()) {
                // A folder whose identity cannot be read any more is gone or unreadable; its
                // search finds nothing, so walking it costs one failed open.
                auto identity = finder.GetFileIdentity();
                if (!identity || EnterOnce(*identity))
                    WalkPattern(fullPath, FILE_ATTRIBUTE_DIRECTORY);
            }
            continue;
        }

        m_sink.CountFile();
        if (m_sinkTestsFiles) {
            m_sink.OnFile(finder.GetFileName(), fullPath);
            continue;
        }
        if (!IsPeFile(fullPath))
            continue;
        if (CheckStop())
            break;
        m_sink.OnExecutable(finder.GetFileName(), fullPath);
    }
    finder.Close();
}
