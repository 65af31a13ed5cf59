// The compiled-in resource table and the loaders for icons and bitmaps.
#include <QImage>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/ui/resources.h"
#include "platform/ui/window_impl.h"

namespace {

std::mutex g_resourceLock;
std::vector<velmora::ui::ResourceEntry>& Table() {
    static std::vector<velmora::ui::ResourceEntry> table;
    return table;
}

char16_t Fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// Numbers match exactly; strings match without regard to case (a leading '#' followed by digits
// is the string form of a number, as the platform allows).
bool SameId(LPCWSTR a, LPCWSTR b) {
    if (IS_INTRESOURCE(a) || IS_INTRESOURCE(b)) {
        auto number = [](LPCWSTR p, unsigned long* out) {
            if (IS_INTRESOURCE(p)) {
                *out = reinterpret_cast<ULONG_PTR>(p);
                return true;
            }
            if (p[0] != u'#' || !p[1])
                return false;
            unsigned long value = 0;
            for (LPCWSTR q = p + 1; *q; ++q) {
                if (*q < u'0' || *q > u'9' || value > 0xFFFF)
                    return false;
                value = value * 10 + static_cast<unsigned long>(*q - u'0');
            }
            *out = value;
            return true;
        };
        unsigned long x = 0, y = 0;
        return number(a, &x) && number(b, &y) && x == y;
    }
    for (; *a && *b; ++a, ++b)
        if (Fold(*a) != Fold(*b))
            return false;
    return *a == *b;
}

// The program's module handle: a unique address, never dereferenced.
char g_programModuleTag;
HINSTANCE ProgramModule() { return reinterpret_cast<HINSTANCE>(&g_programModuleTag); }

} // namespace

namespace velmora::ui {
void RegisterResources(const ResourceEntry* entries, std::size_t count) {
    std::lock_guard<std::mutex> guard(g_resourceLock);
    Table().insert(Table().end(), entries, entries + count);
}
} // namespace velmora::ui

HINSTANCE AfxGetInstanceHandle() { return ProgramModule(); }
HINSTANCE AfxGetResourceHandle() { return ProgramModule(); }

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    // Only the program's own module holds resources; null means the program too.
    if ((hModule && hModule != ProgramModule()) || !lpName || !lpType) {
        SetLastError(1813); // ERROR_RESOURCE_TYPE_NOT_FOUND
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(g_resourceLock);
    for (const auto& entry : Table())
        if (SameId(entry.type, lpType) && SameId(entry.name, lpName))
            return reinterpret_cast<HRSRC>(const_cast<velmora::ui::ResourceEntry*>(&entry));
    SetLastError(1814); // ERROR_RESOURCE_NAME_NOT_FOUND
    return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC hResInfo) {
    if (!hResInfo)
        return nullptr;
    return const_cast<void*>(reinterpret_cast<const velmora::ui::ResourceEntry*>(hResInfo)->data);
}

LPVOID LockResource(HGLOBAL hResData) { return hResData; }

DWORD SizeofResource(HMODULE, HRSRC hResInfo) {
    return hResInfo ? reinterpret_cast<const velmora::ui::ResourceEntry*>(hResInfo)->size : 0;
}

BOOL FreeResource(HGLOBAL) { return FALSE; }

namespace {

const void* ResourceBytes(HINSTANCE module, LPCWSTR name, LPCWSTR type, DWORD* size) {
    HRSRC info = FindResourceW(module, name, type);
    if (!info)
        return nullptr;
    *size = SizeofResource(module, info);
    return LockResource(LoadResource(module, info));
}

std::uint32_t Read32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24); }
std::uint16_t Read16(const BYTE* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// A packed DIB: BITMAPINFOHEADER, then rows of 24 or 32 bits per pixel without compression,
// bottom-up for a positive height. Anything else is refused.
QImage DecodeDib(const BYTE* data, DWORD size) {
    if (!data || size < 40)
        return {};
    std::uint32_t headerSize = Read32(data);
    auto width = static_cast<std::int32_t>(Read32(data + 4));
    auto height = static_cast<std::int32_t>(Read32(data + 8));
    std::uint16_t bits = Read16(data + 14);
    std::uint32_t compression = Read32(data + 16);
    if (headerSize < 40 || headerSize > size || width <= 0 || height == 0 || width > 16384 || height > 16384 ||
        height < -16384 || (bits != 24 && bits != 32) || (compression != 0 && compression != 3))
        return {};
    bool bottomUp = height > 0;
    int rowsCount = bottomUp ? height : -height;
    std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
    std::size_t offset = headerSize + (compression == 3 && headerSize == 40 ? 12 : 0);
    if (offset + stride * static_cast<std::size_t>(rowsCount) > size)
        return {};
    QImage image(width, rowsCount, QImage::Format_RGB32);
    for (int y = 0; y < rowsCount; ++y) {
        const BYTE* row = data + offset + stride * static_cast<std::size_t>(bottomUp ? rowsCount - 1 - y : y);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const BYTE* px = row + static_cast<std::size_t>(x) * (bits / 8);
            out[x] = qRgb(px[2], px[1], px[0]);
        }
    }
    return image;
}

} // namespace

HICON LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
    static std::mutex lock;
    // Shared icons live as long as the program; the cache is never torn down, so they stay
    // reachable (and are not reported as leaks) up to the very end.
    static auto& cache = *new std::map<std::u16string, HICON>;
    std::u16string key = IS_INTRESOURCE(lpIconName)
                             ? u"#" + std::u16string(1, static_cast<char16_t>(reinterpret_cast<ULONG_PTR>(lpIconName)))
                             : std::u16string(lpIconName ? lpIconName : u"");
    std::lock_guard<std::mutex> guard(lock);
    if (auto it = cache.find(key); it != cache.end())
        return it->second;
    DWORD size = 0;
    const void* bytes = ResourceBytes(hInstance, lpIconName, RT_GROUP_ICON, &size);
    if (!bytes)
        return nullptr;
    QImage image;
    if (!image.loadFromData(static_cast<const uchar*>(bytes), static_cast<int>(size), "PNG"))
        return nullptr;
    auto* icon = new HICON__;
    icon->image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    cache[key] = icon;
    return icon;
}

BOOL DestroyIcon(HICON) {
    // Icons from resources are shared for the life of the program, as the platform shares them.
    return TRUE;
}

HBITMAP LoadBitmapW(HINSTANCE hInstance, LPCWSTR lpBitmapName) {
    DWORD size = 0;
    const void* bytes = ResourceBytes(hInstance, lpBitmapName, RT_BITMAP, &size);
    QImage image = DecodeDib(static_cast<const BYTE*>(bytes), size);
    if (image.isNull())
        return nullptr;
    auto* bitmap = new HBITMAP__;
    bitmap->image = std::move(image);
    return bitmap;
}
