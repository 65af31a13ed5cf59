// The folder browser: a tree of the file system from its top, returning the chosen item as an
// item list that converts to a DOS path.
#pragma once

#include "platform/kernel/win_types.h"

struct ITEMIDLIST; // opaque: the chosen item
using PIDLIST_ABSOLUTE = ITEMIDLIST*;
using LPITEMIDLIST = ITEMIDLIST*;
using PCIDLIST_ABSOLUTE = const ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;
using BFFCALLBACK = int(CALLBACK*)(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM lpData);

struct BROWSEINFOW {
    HWND hwndOwner;
    PCIDLIST_ABSOLUTE pidlRoot;
    LPWSTR pszDisplayName; // receives the chosen item's name; MAX_PATH units
    LPCWSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
};
using LPBROWSEINFOW = BROWSEINFOW*;

constexpr UINT BIF_RETURNONLYFSDIRS = 0x00000001;
constexpr UINT BIF_BROWSEINCLUDEFILES = 0x00004000;

// Shows the browser modally; null when the user cancels. Free the result with CoTaskMemFree.
PIDLIST_ABSOLUTE SHBrowseForFolderW(LPBROWSEINFOW lpbi);
// The DOS path of the item, MAX_PATH units at most; FALSE (and an empty buffer) when the item
// has no path or it does not fit.
BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE pidl, LPWSTR pszPath);
void CoTaskMemFree(LPVOID pv);
