// Files and file mapping.
//
// CreateFileW opens regular files only: a folder, FIFO, socket or device node fails at once
// with ERROR_ACCESS_DENIED (it is never opened, so nothing can block or be set off). Opening for
// reading with FILE_SHARE_READ but without FILE_SHARE_WRITE fails with ERROR_SHARING_VIOLATION
// while another process holds the file open for writing, wherever Linux can tell (a read lease:
// files the caller owns, or any file for root); where it cannot, the open is allowed.
//
// A read-only view stays safe to read when the file shrinks under it: the pages past the new end
// read as zeros instead of raising SIGBUS.
#pragma once

#include "platform/kernel/win_types.h"

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;

constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD FILE_SHARE_DELETE = 0x00000004;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD SEC_COMMIT = 0x08000000;
constexpr DWORD FILE_MAP_READ = 0x0004;
constexpr DWORD FILE_MAP_WRITE = 0x0002;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;
using PLONG = LONG*;

extern "C" {

// Closes any kernel handle: files, mappings, threads, events, mutexes (see kernel_object.h).
BOOL CloseHandle(HANDLE hObject);

// INVALID_HANDLE_VALUE on failure (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_FILE_EXISTS...). lpSecurityAttributes and
// hTemplateFile are ignored; of dwFlagsAndAttributes nothing is used.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);

// The low 32 bits of the size; the high ones into *lpFileSizeHigh when it is given.
// INVALID_FILE_SIZE with ERROR_INVALID_HANDLE for a handle that is not a file.
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);

// Unnamed mappings of files only (lpName must be null; a file handle is required). Size 0 means
// the file's size; a mapping of an empty file fails with ERROR_FILE_INVALID, and a read-only
// mapping larger than the file with ERROR_NOT_ENOUGH_MEMORY.
HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName);

// dwNumberOfBytesToMap 0 maps from the offset to the mapping's end. The offset must be a multiple
// of 65536. Null on failure.
LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
BOOL UnmapViewOfFile(LPCVOID lpBaseAddress);

// FILE_ATTRIBUTE_DIRECTORY for a folder (also through a symbolic link), FILE_ATTRIBUTE_ARCHIVE
// for anything else, with FILE_ATTRIBUTE_READONLY when no one may write it;
// INVALID_FILE_ATTRIBUTES (every bit set) when the path cannot be read.
DWORD GetFileAttributesW(LPCWSTR lpFileName);

BOOL DeleteFileW(LPCWSTR lpFileName);

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0 };
struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};

// Attributes as GetFileAttributesW, plus the size and times, from one look at the file.
BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation);

}  // extern "C"

namespace velmora::kernel {

// The POSIX descriptor behind a file handle (still owned by the handle), or -1.
int KernelFileDescriptor(HANDLE hFile);

// Number of views mapped by MapViewOfFile and not yet unmapped, for leak tests.
std::size_t MappedViewCount();

}  // namespace velmora::kernel
