// Loading libraries at run time and looking their exports up by name.
//
// A module name such as "wintrust.dll" stands for the shared library "libwintrust.so". It is
// looked for in the program's own folder first (the folder of /proc/self/exe), then through the
// normal library search. A name with a folder in it (a DOS or a Linux path) names that file, or
// lib<name>.so beside it.
//
// Tests swap a library for another one without touching the program: RedirectModule() in the
// process, or, for programs a test starts, the environment:
//   VELMORA_MODULE_REDIRECT=wintrust.dll=/path/libfake.so[;other.dll=/path/libother.so]
//   VELMORA_MODULE_FREE_FAILS=wintrust.dll[;other.dll]
// A redirection to a file that does not exist makes the load fail. The environment is read at
// every load, so it may be changed between loads.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/win_types.h"

extern "C" {
// Loads the module (or adds a reference to it when it is already loaded). Null on failure, with
// ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
// The address of the export named lpProcName of that very module (not of a library it depends
// on), or null with ERROR_PROC_NOT_FOUND. Look-up by ordinal is not offered: null.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
// Drops one reference; the library is unloaded when the last one goes. FALSE with
// ERROR_INVALID_HANDLE for a handle that is not a loaded module.
BOOL FreeLibrary(HMODULE hLibModule);
// The DOS path of the module's file (hModule null: the program's own file), null-terminated.
// Returns its length without the terminator; when nSize is too small, the path is cut to
// nSize - 1 characters, nSize is returned and the last error is ERROR_INSUFFICIENT_BUFFER.
// 0 on failure.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
}

namespace velmora::kernel {

// Later loads of moduleName (compared without regard to case, e.g. u"wintrust.dll") load the
// library at linuxPath instead. Modules that are already loaded stay as they are.
void RedirectModule(std::u16string_view moduleName, std::string linuxPath);
// FreeLibrary of a module loaded under moduleName fails (FALSE, the module stays loaded) while
// this is set.
void SetModuleFreeFails(std::u16string_view moduleName, bool fails);
// Forgets every redirection and free failure set through the two calls above (not those of the
// environment).
void ClearModuleOverrides();

// Tests watch the module calls the code under test makes: the observer, when set, is called once
// for each LoadLibraryW, GetProcAddress and FreeLibrary with the operation's name and its
// argument (the module name, the export name, or the module's name), before the call is carried out.
using ModuleCallObserver = void (*)(const char* operation, const char* argument);
void SetModuleCallObserver(ModuleCallObserver observer);

} // namespace velmora::kernel
