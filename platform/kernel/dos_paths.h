// DOS paths on Linux.
//
// Drive letters come from the dosdevices folder: $WINEPREFIX/dosdevices, else
// ~/.wine/dosdevices. Each entry "a:" ... "z:" there that leads to a folder (usually a symbolic
// link) is a drive. Without a dosdevices folder the only drive is Z:, the root "/".
//
// A DOS path is "X:\dir\name" (forward slashes are accepted too, and a leading "\\?\" is
// dropped); "X:" alone is the drive's root; a path that starts with one backslash is on the
// drive of the current folder; a relative path is relative to the current folder. A path that
// starts with "/" is taken as a Linux path as it stands, so Linux paths may be handed to the
// same calls. "." and ".." are resolved in the text, never above the drive root. Each name is
// looked up exactly first, and when that fails, without regard to case (mounted Windows volumes).
#pragma once

#include <optional>
#include <string>

#include "platform/kernel/cstring.h"
#include "platform/kernel/win_types.h"

constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

// The drive of lpRootPathName ("C:\", "C:", "C:/", or null for the current folder's drive):
// DRIVE_NO_ROOT_DIR when there is no such drive or its folder is missing, DRIVE_CDROM for an
// iso9660 or udf file system, DRIVE_REMOTE for network file systems, else DRIVE_FIXED.
extern "C" UINT GetDriveTypeW(LPCWSTR lpRootPathName);

namespace velmora::kernel {

// The Linux path for a DOS path, with the case of existing names corrected; nullopt when the
// path names a drive that does not exist, or is not a path at all (empty, "\\server\share").
// The names need not exist: the part that does not is kept as written.
std::optional<std::string> DosPathToLinux(std::u16string_view dosPath);

// The same mapping without the look-up of names: cheaper, for callers that try the exact path
// first and come back to DosPathToLinux when it does not exist.
std::optional<std::string> DosPathToLinuxExact(std::u16string_view dosPath);

// The DOS path for a Linux path (relative ones start at the current folder): the drive whose
// folder holds it most closely, else Z:\ followed by the whole path.
CString LinuxPathToDos(const std::string& linuxPath);

// One name of a folder entry, between its Linux and DOS forms. A backslash is an ordinary
// character in a Linux name but a separator in a DOS path, so it travels as U+F05C (a private-use
// character) and comes back as itself: such a file can still be opened by the path it is shown
// under, and cannot hide from a scan.
constexpr char16_t kBackslashInName = u'\uF05C';
CString LinuxNameToDos(std::string_view linuxName);
void AppendDosNameAsLinux(std::string& out, std::u16string_view dosName);

// The Linux folder of a drive letter (either case), or nullopt for no such drive.
std::optional<std::string> DriveFolder(WCHAR letter);

// Drive letters are read again when the dosdevices folder in use changes ($WINEPREFIX, $HOME),
// else at most every half second; RefreshDrives makes a change to the folder count at once.
void RefreshDrives();

// The dosdevices folder in use (it need not exist).
std::string DosDevicesFolder();

// The drive type rule applied to a file system magic number (statfs f_type).
UINT DriveTypeFromFileSystem(long magic);

}  // namespace velmora::kernel
