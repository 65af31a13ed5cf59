// Special folders. Only the Windows directory is known here: $WINDIR when it is set (a DOS or a
// Linux path) and names a folder, else C:\windows when it exists (in any case), else none.
#pragma once

#include "platform/kernel/win_types.h"

constexpr int CSIDL_WINDOWS = 0x0024;

// Writes the folder's DOS path into pszPath, which must hold MAX_PATH characters. FALSE (and an
// empty pszPath) when the folder cannot be obtained, is not known, or its path would not fit.
// fCreate is ignored: nothing is ever created.
extern "C" BOOL SHGetSpecialFolderPathW(HWND hwndOwner, LPWSTR pszPath, int csidl, BOOL fCreate);
