// The recursive walk of a scan, written once for every front end.
//
// A front end (the dialog's workers, the command-line scanner) supplies a ScanSink; the walk
// decides what is visited, in which order, what counts as a file and which files are
// executables, and the sink decides what the user sees and what happens to each executable.
#pragma once

#include <cstdint>
#include <unordered_set>

#include "platform/kernel/cstring.h"
#include "platform/kernel/file_find.h"

class ScanSink {
  public:
    virtual ~ScanSink() = default;

    // Asked before every entry and before every executable is handed over; once it answers true
    // the walk ends without another call on the sink.
    virtual bool ShouldStop() = 0;

    // Every entry the search returns, "." and ".." included, folders too, in search order.
    virtual void ShowEntry(const CString& fullPath) = 0;

    // Once for every entry that is not a folder, before the executable test.
    virtual void CountFile() = 0;

    // A file whose headers are those of a portable executable: the sink verifies it and decides
    // whether it is listed. name is the entry's own name, fullPath the search folder joined with it.
    virtual void OnExecutable(const CString& name, const CString& fullPath) = 0;

    // A front end that runs the executable test on threads of its own answers true: the walk then
    // hands every file it counts to OnFile instead of testing it, and the front end treats a file
    // as an executable only once IsPeFile has passed it.
    virtual bool TestsFilesItself() const { return false; }
    virtual void OnFile(const CString& name, const CString& fullPath) {
        (void)name;
        (void)fullPath;
    }
};

// One scan. Several start paths may be walked by the same object (all drives): a folder reached
// twice, through a link, a loop or another drive, is entered only the first time, so nothing is
// visited twice and no loop multiplies the work. Memory grows with the number of folders entered,
// not with the number of files.
class DirectoryWalk {
  public:
    explicit DirectoryWalk(ScanSink& sink) : m_sink(sink), m_sinkTestsFiles(sink.TestsFilesItself()) {}
    DirectoryWalk(const DirectoryWalk&) = delete;
    DirectoryWalk& operator=(const DirectoryWalk&) = delete;

    // Walks a folder (every entry below it, depth first) or, for a path that is not a folder,
    // just the file it names. A path that cannot be read finds nothing.
    void Walk(const CString& path);

    // True once the sink asked the walk to stop; every later Walk returns at once.
    bool Stopped() const { return m_stopped; }

  private:
    struct IdentityHash {
        std::size_t operator()(const velmora::kernel::FileIdentity& id) const {
            return std::hash<std::uint64_t>()(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
        }
    };

    void WalkPattern(const CString& path, DWORD attributes);
    bool CheckStop();
    bool EnterOnce(const velmora::kernel::FileIdentity& identity);

    ScanSink& m_sink;
    const bool m_sinkTestsFiles;
    bool m_stopped = false;
    std::unordered_set<velmora::kernel::FileIdentity, IdentityHash> m_entered;
};

// The search pattern for a path: "path\*.*", "root\*.*" without a doubled backslash for a path
// that ends with one, or the path itself when it does not name a folder.
CString ScanPattern(const CString& path, DWORD attributes);
