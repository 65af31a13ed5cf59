// Resources compiled into the program: dialog templates, icons, bitmaps, the intro animation and
// the manifest. They are found by type and name the way the platform finds them; a type or name
// given as a string matches without regard to case, one given as a number matches exactly.
#pragma once

#include "platform/ui/win_user.h"

#define RT_BITMAP MAKEINTRESOURCEW(2)
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)
#define RT_MANIFEST MAKEINTRESOURCEW(24)

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
LPVOID LockResource(HGLOBAL hResData);
DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
BOOL FreeResource(HGLOBAL hResData);
#define FindResource FindResourceW

// The program's own module: every resource lives in it.
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

// Icons are stored as PNG images; bitmaps as packed device-independent bitmaps (an info header
// followed by bottom-up rows), as the platform stores them.
HICON LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName);
HBITMAP LoadBitmapW(HINSTANCE hInstance, LPCWSTR lpBitmapName);
BOOL DestroyIcon(HICON hIcon);
#define LoadIcon LoadIconW
#define LoadBitmap LoadBitmapW

namespace velmora::ui {

// One compiled-in resource. A type or name below 0x10000 is a number; otherwise it points to a
// UTF-16 string.
struct ResourceEntry {
    LPCWSTR type;
    LPCWSTR name;
    const void* data;
    DWORD size;
};

// The resource folder registers its table when the program starts.
void RegisterResources(const ResourceEntry* entries, std::size_t count);

} // namespace velmora::ui
