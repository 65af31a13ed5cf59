// The executable test: whether a file is a portable executable, judged by its headers alone.
#pragma once

#include "platform/kernel/win_types.h"

constexpr WORD IMAGE_DOS_SIGNATURE = 0x5A4D;   // "MZ"
constexpr DWORD IMAGE_NT_SIGNATURE = 0x00004550; // "PE\0\0"

// TRUE when the file at path carries the MS-DOS signature, a PE header offset within the first
// half of the file, and the PE signature there. Any failure to open, map or read the file is
// FALSE. The file is mapped, never read, and every handle, mapping and view is released again.
BOOL IsPeFile(LPCWSTR path);

// The pure header test over size bytes at view; it reads nothing outside them.
BOOL CheckPeHeaders(LPCVOID view, DWORD size);
