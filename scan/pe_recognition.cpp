#include "scan/pe_recognition.h"

#include "platform/kernel/file_api.h"

namespace {

// The smallest file that can pass is one byte longer than this.
constexpr DWORD kMinimumSizeExclusive = 0x138;
constexpr DWORD kNewHeaderOffsetField = 60;

template <class T> T ReadLittleEndian(const BYTE* at) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<T>(static_cast<T>(at[i]) << (8 * i));
    return value;
}

}  // namespace

BOOL CheckPeHeaders(LPCVOID view, DWORD size) {
    if (!view || size == 0 || size <= kMinimumSizeExclusive)
        return FALSE;
    const auto* bytes = static_cast<const BYTE*>(view);
    if (ReadLittleEndian<WORD>(bytes) != IMAGE_DOS_SIGNATURE)
        return FALSE;
    auto newHeader = static_cast<LONG>(ReadLittleEndian<DWORD>(bytes + kNewHeaderOffsetField));
    if (newHeader < 0 || static_cast<DWORD>(newHeader) > size / 2)
        return FALSE;
    // With size above 312, size / 2 + 4 < size: the signature lies inside the view.
    return ReadLittleEndian<DWORD>(bytes + newHeader) == IMAGE_NT_SIGNATURE ? TRUE : FALSE;
}

BOOL IsPeFile(LPCWSTR path) {
    // A file of 312 bytes or less can never pass, whatever it holds or whoever has it open, so it
    // is turned away on its size alone before anything is opened or mapped. Half the files of an
    // ordinary tree are that small, and a scan visits every one of them.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        data.nFileSizeLow <= kMinimumSizeExclusive)
        return FALSE;

    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD size = GetFileSize(file, nullptr);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_COMMIT, 0, size, nullptr);
    if (!mapping) {
        CloseHandle(file);
        return FALSE;
    }
    LPVOID view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
    if (!view) {
        CloseHandle(mapping);
        CloseHandle(file);
        return FALSE;
    }
    BOOL result = CheckPeHeaders(view, size);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(file);
    return result;
}
