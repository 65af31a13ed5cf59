// CString: the dialog framework's growable UTF-16 string, as the system code uses it.
//
// Lengths and positions count UTF-16 units. Positions out of range are clamped rather than
// trusted, so no call reads or writes outside the text. Format takes printf-style conversions;
// like every variadic call it cannot take a CString itself: pass GetString() or (LPCWSTR)text.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "platform/kernel/win_types.h"

class CString {
public:
    CString() = default;
    CString(LPCWSTR text);  // null is the empty string
    CString(LPCWSTR text, int length);
    CString(WCHAR ch, int repeat = 1);
    explicit CString(std::u16string_view text) : m_text(text) {}
    explicit CString(std::u16string text) : m_text(std::move(text)) {}

    CString& operator=(LPCWSTR text);
    CString& operator=(WCHAR ch);

    static CString FromUtf8(std::string_view text);
    std::string ToUtf8() const;

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }

    LPCWSTR GetString() const { return m_text.c_str(); }
    operator LPCWSTR() const { return m_text.c_str(); }
    const std::u16string& Text() const { return m_text; }

    // The unit at a position; 0 for a position outside the text.
    WCHAR GetAt(int index) const;
    WCHAR operator[](int index) const { return GetAt(index); }
    void SetAt(int index, WCHAR ch);

    CString& operator+=(const CString& other);
    CString& operator+=(LPCWSTR text);
    CString& operator+=(WCHAR ch);
    void Append(LPCWSTR text, int length);
    void AppendChar(WCHAR ch) { m_text += ch; }

    // -1 when not found. A negative start counts as 0.
    int Find(WCHAR ch, int start = 0) const;
    int Find(LPCWSTR sub, int start = 0) const;
    int ReverseFind(WCHAR ch) const;

    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Right(int count) const;

    CString& MakeUpper();
    CString& MakeLower();
    int Replace(WCHAR from, WCHAR to);
    int Replace(LPCWSTR from, LPCWSTR to);
    CString& TrimRight();
    CString& TrimLeft();
    CString& Trim();

    // Ordinal, as wcscmp; CompareNoCase ignores the case of letters.
    int Compare(LPCWSTR other) const;
    int CompareNoCase(LPCWSTR other) const;

    // Conversions: %s (LPCWSTR, null shows "(null)"), %S (narrow UTF-8 const char*), %c (a WCHAR,
    // promoted to int), %d %i %u %x %X %o (int; with l, ll, h, z or I64 the matching width), %p,
    // %%; flags - + 0 space #, width and precision, also as *. An unknown conversion is copied.
    void Format(LPCWSTR format, ...);
    void AppendFormat(LPCWSTR format, ...);

    // A writable buffer of at least minLength units plus the terminator, for calls that fill a
    // WCHAR array; ReleaseBuffer then takes the text up to the terminator (or newLength units).
    LPWSTR GetBuffer(int minLength);
    LPWSTR GetBuffer() { return GetBuffer(GetLength()); }
    void ReleaseBuffer(int newLength = -1);

    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, LPCWSTR b);
    friend CString operator+(LPCWSTR a, const CString& b);
    friend CString operator+(const CString& a, WCHAR b);
    friend CString operator+(WCHAR a, const CString& b);

    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, LPCWSTR b) { return a.Compare(b) == 0; }
    friend bool operator==(LPCWSTR a, const CString& b) { return b.Compare(a) == 0; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, LPCWSTR b) { return !(a == b); }
    friend bool operator!=(LPCWSTR a, const CString& b) { return !(a == b); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_text < b.m_text; }
    friend bool operator<(const CString& a, LPCWSTR b) { return a.Compare(b) < 0; }
    friend bool operator<(LPCWSTR a, const CString& b) { return b.Compare(a) > 0; }
    friend bool operator>(const CString& a, const CString& b) { return b < a; }

private:
    std::u16string m_text;
};

// The formatting engine behind CString::Format, for callers that hold a va_list.
void FormatWideV(std::u16string& out, LPCWSTR format, va_list args);
