#include "platform/shell/special_folders.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "platform/kernel/cstring.h"
#include "platform/kernel/dos_paths.h"

namespace {

bool IsFolder(const std::string& linuxPath) {
    struct stat st {};
    return stat(linuxPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The Windows directory as a DOS path, or empty when it cannot be obtained.
CString WindowsDirectory() {
    using namespace velmora::kernel;
    const char* windir = getenv("WINDIR");
    if (windir && *windir) {
        CString given = CString::FromUtf8(windir);
        if (windir[0] == '/') {
            if (IsFolder(windir))
                return LinuxPathToDos(windir);
        } else if (auto linux = DosPathToLinux(given.Text()); linux && IsFolder(*linux)) {
            return given;
        }
    }
    if (auto linux = DosPathToLinux(u"C:\\windows"); linux && IsFolder(*linux)) {
        // Named with the case the folder really has.
        return CString(u"C:\\") + CString::FromUtf8(linux->substr(linux->rfind('/') + 1));
    }
    return CString();
}

}  // namespace

extern "C" BOOL SHGetSpecialFolderPathW(HWND, LPWSTR pszPath, int csidl, BOOL) {
    if (!pszPath)
        return FALSE;
    pszPath[0] = 0;
    constexpr int CSIDL_FLAG_CREATE = 0x8000;
    if ((csidl & ~CSIDL_FLAG_CREATE) != CSIDL_WINDOWS)
        return FALSE;
    CString path = WindowsDirectory();
    if (path.IsEmpty() || path.GetLength() >= MAX_PATH)
        return FALSE;
    for (int i = 0; i <= path.GetLength(); ++i)
        pszPath[i] = path.GetString()[i];
    return TRUE;
}
