#include "platform/kernel/cstring.h"

#include <algorithm>
#include <cstdint>

#include "platform/kernel/wide_text.h"

CString::CString(LPCWSTR text) {
    if (text)
        m_text.assign(text);
}

CString::CString(LPCWSTR text, int length) {
    if (text && length > 0)
        m_text.assign(text, static_cast<std::size_t>(length));
}

CString::CString(WCHAR ch, int repeat) {
    if (repeat > 0)
        m_text.assign(static_cast<std::size_t>(repeat), ch);
}

CString& CString::operator=(LPCWSTR text) {
    if (!text)
        m_text.clear();
    else
        m_text.assign(text);  // assign copes with text pointing into m_text
    return *this;
}

CString& CString::operator=(WCHAR ch) {
    m_text.assign(1, ch);
    return *this;
}

CString CString::FromUtf8(std::string_view text) { return CString(Utf8ToUtf16(text)); }
std::string CString::ToUtf8() const { return Utf16ToUtf8(m_text); }

WCHAR CString::GetAt(int index) const {
    if (index < 0 || index >= GetLength())
        return 0;
    return m_text[static_cast<std::size_t>(index)];
}

void CString::SetAt(int index, WCHAR ch) {
    if (index >= 0 && index < GetLength())
        m_text[static_cast<std::size_t>(index)] = ch;
}

CString& CString::operator+=(const CString& other) {
    m_text += other.m_text;
    return *this;
}

CString& CString::operator+=(LPCWSTR text) {
    if (text)
        m_text.append(text);
    return *this;
}

CString& CString::operator+=(WCHAR ch) {
    m_text += ch;
    return *this;
}

void CString::Append(LPCWSTR text, int length) {
    if (text && length > 0)
        m_text.append(text, static_cast<std::size_t>(length));
}

int CString::Find(WCHAR ch, int start) const {
    if (start < 0)
        start = 0;
    if (start >= GetLength())
        return -1;
    auto pos = m_text.find(ch, static_cast<std::size_t>(start));
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(LPCWSTR sub, int start) const {
    if (start < 0)
        start = 0;
    if (!sub || start > GetLength())
        return -1;
    auto pos = m_text.find(sub, static_cast<std::size_t>(start));
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(WCHAR ch) const {
    auto pos = m_text.rfind(ch);
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

CString CString::Left(int count) const {
    count = std::clamp(count, 0, GetLength());
    return CString(std::u16string_view(m_text).substr(0, static_cast<std::size_t>(count)));
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
    first = std::clamp(first, 0, GetLength());
    count = std::clamp(count, 0, GetLength() - first);
    return CString(std::u16string_view(m_text).substr(static_cast<std::size_t>(first),
                                                       static_cast<std::size_t>(count)));
}

CString CString::Right(int count) const {
    count = std::clamp(count, 0, GetLength());
    return CString(std::u16string_view(m_text).substr(m_text.size() - static_cast<std::size_t>(count)));
}

CString& CString::MakeUpper() {
    for (auto& c : m_text)
        c = WideToUpper(c);
    return *this;
}

CString& CString::MakeLower() {
    for (auto& c : m_text)
        c = WideToLower(c);
    return *this;
}

int CString::Replace(WCHAR from, WCHAR to) {
    int n = 0;
    for (auto& c : m_text)
        if (c == from) {
            c = to;
            ++n;
        }
    return n;
}

int CString::Replace(LPCWSTR from, LPCWSTR to) {
    std::size_t fromLength = WideLength(from);
    if (fromLength == 0)
        return 0;
    std::u16string_view replacement(to ? to : u"");
    std::u16string out;
    int n = 0;
    std::size_t pos = 0;
    for (;;) {
        std::size_t hit = m_text.find(from, pos, fromLength);
        if (hit == std::u16string::npos)
            break;
        out.append(m_text, pos, hit - pos);
        out.append(replacement);
        pos = hit + fromLength;
        ++n;
    }
    out.append(m_text, pos);
    m_text = std::move(out);
    return n;
}

namespace {
bool IsSpace(WCHAR c) { return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0x3000 || c == 0xA0; }
}  // namespace

CString& CString::TrimRight() {
    while (!m_text.empty() && IsSpace(m_text.back()))
        m_text.pop_back();
    return *this;
}

CString& CString::TrimLeft() {
    std::size_t n = 0;
    while (n < m_text.size() && IsSpace(m_text[n]))
        ++n;
    m_text.erase(0, n);
    return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }

int CString::Compare(LPCWSTR other) const { return WideCompare(m_text.c_str(), other); }
int CString::CompareNoCase(LPCWSTR other) const { return WideCompareNoCase(m_text.c_str(), other); }

void CString::Format(LPCWSTR format, ...) {
    std::u16string out;
    va_list args;
    va_start(args, format);
    FormatWideV(out, format, args);
    va_end(args);
    m_text = std::move(out);
}

void CString::AppendFormat(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    FormatWideV(m_text, format, args);
    va_end(args);
}

LPWSTR CString::GetBuffer(int minLength) {
    if (minLength > GetLength())
        m_text.resize(static_cast<std::size_t>(minLength));
    return m_text.data();
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0)
        newLength = static_cast<int>(WideLength(m_text.c_str()));
    m_text.resize(static_cast<std::size_t>(std::min(newLength, GetLength())));
}

CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, LPCWSTR b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(LPCWSTR a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, WCHAR b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(WCHAR a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

// ---- formatting ----

namespace {

struct Conversion {
    bool left = false, plus = false, space = false, zero = false, alt = false;
    int width = 0;
    int precision = -1;
};

void Pad(std::u16string& out, std::u16string_view body, const Conversion& field, std::u16string_view prefix = {},
         bool numeric = false) {
    std::size_t len = prefix.size() + body.size();
    std::size_t width = field.width > 0 ? static_cast<std::size_t>(field.width) : 0;
    std::size_t fill = width > len ? width - len : 0;
    if (field.left) {
        out += prefix;
        out += body;
        out.append(fill, u' ');
    } else if (field.zero && numeric) {
        out += prefix;
        out.append(fill, u'0');
        out += body;
    } else {
        out.append(fill, u' ');
        out += prefix;
        out += body;
    }
}

void FormatInteger(std::u16string& out, std::uint64_t magnitude, bool negative, int base, bool upper,
                   const Conversion& field, bool isSigned) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char16_t buffer[72];
    int n = 0;
    while (magnitude) {
        buffer[n++] = static_cast<char16_t>(digits[magnitude % static_cast<unsigned>(base)]);
        magnitude /= static_cast<unsigned>(base);
    }
    int minDigits = field.precision >= 0 ? field.precision : 1;
    while (n < minDigits && n < 64)
        buffer[n++] = u'0';
    std::u16string body(buffer, buffer + n);
    std::reverse(body.begin(), body.end());
    std::u16string prefix;
    if (negative)
        prefix = u"-";
    else if (isSigned && field.plus)
        prefix = u"+";
    else if (isSigned && field.space)
        prefix = u" ";
    if (field.alt && base == 16 && !body.empty() && body != u"0")
        prefix += upper ? u"0X" : u"0x";
    if (field.alt && base == 8 && body.front() != u'0')
        body.insert(body.begin(), u'0');
    Conversion padSpec = field;
    if (field.precision >= 0)
        padSpec.zero = false;
    Pad(out, body, padSpec, prefix, true);
}

}  // namespace

void FormatWideV(std::u16string& out, LPCWSTR format, va_list args) {
    if (!format)
        return;
    va_list ap;
    va_copy(ap, args);
    for (LPCWSTR p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        LPCWSTR start = p++;
        if (*p == u'%') {
            out += u'%';
            continue;
        }
        Conversion field;
        for (;; ++p) {
            if (*p == u'-')
                field.left = true;
            else if (*p == u'+')
                field.plus = true;
            else if (*p == u' ')
                field.space = true;
            else if (*p == u'0')
                field.zero = true;
            else if (*p == u'#')
                field.alt = true;
            else
                break;
        }
        if (*p == u'*') {
            field.width = va_arg(ap, int);
            if (field.width < 0) {
                field.left = true;
                field.width = field.width == INT32_MIN ? 0 : -field.width;
            }
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9') {
                field.width = std::min(field.width * 10 + (*p - u'0'), 1 << 20);
                ++p;
            }
        }
        if (*p == u'.') {
            ++p;
            field.precision = 0;
            if (*p == u'*') {
                field.precision = va_arg(ap, int);
                if (field.precision < 0)
                    field.precision = -1;
                ++p;
            } else {
                while (*p >= u'0' && *p <= u'9') {
                    field.precision = std::min(field.precision * 10 + (*p - u'0'), 1 << 20);
                    ++p;
                }
            }
        }
        // Length: 0 int, 1 long, 2 long long / I64, -1 short, 3 size_t.
        int length = 0;
        if (*p == u'h') {
            length = -1;
            ++p;
            if (*p == u'h')
                ++p;
        } else if (*p == u'l') {
            length = 1;
            ++p;
            if (*p == u'l') {
                length = 2;
                ++p;
            }
        } else if (*p == u'z') {
            length = 3;
            ++p;
        } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            length = 2;
            p += 3;
        }
        WCHAR conv = *p;
        switch (conv) {
        case u'd':
        case u'i': {
            std::int64_t v;
            if (length == 2)
                v = va_arg(ap, long long);
            else if (length == 1)
                v = va_arg(ap, long);
            else if (length == 3)
                v = static_cast<std::int64_t>(va_arg(ap, std::size_t));
            else if (length == -1)
                v = static_cast<short>(va_arg(ap, int));
            else
                v = va_arg(ap, int);
            std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
            FormatInteger(out, mag, v < 0, 10, false, field, true);
            break;
        }
        case u'u':
        case u'x':
        case u'X':
        case u'o': {
            std::uint64_t v;
            if (length == 2)
                v = va_arg(ap, unsigned long long);
            else if (length == 1)
                v = va_arg(ap, unsigned long);
            else if (length == 3)
                v = va_arg(ap, std::size_t);
            else if (length == -1)
                v = static_cast<unsigned short>(va_arg(ap, unsigned int));
            else
                v = va_arg(ap, unsigned int);
            int base = conv == u'u' ? 10 : conv == u'o' ? 8 : 16;
            FormatInteger(out, v, false, base, conv == u'X', field, false);
            break;
        }
        case u'p': {
            Conversion ptrSpec = field;
            ptrSpec.alt = true;
            FormatInteger(out, reinterpret_cast<std::uintptr_t>(va_arg(ap, void*)), false, 16, false, ptrSpec,
                          false);
            break;
        }
        case u'c': {
            WCHAR ch = static_cast<WCHAR>(va_arg(ap, int));
            Pad(out, std::u16string_view(&ch, 1), field);
            break;
        }
        case u's': {
            LPCWSTR s = va_arg(ap, LPCWSTR);
            std::u16string_view text = s ? std::u16string_view(s) : std::u16string_view(u"(null)");
            if (field.precision >= 0 && static_cast<std::size_t>(field.precision) < text.size())
                text = text.substr(0, static_cast<std::size_t>(field.precision));
            Pad(out, text, field);
            break;
        }
        case u'S': {
            const char* s = va_arg(ap, const char*);
            std::u16string text = Utf8ToUtf16(s ? s : "(null)");
            if (field.precision >= 0 && static_cast<std::size_t>(field.precision) < text.size())
                text.resize(static_cast<std::size_t>(field.precision));
            Pad(out, text, field);
            break;
        }
        default:
            // Not a conversion we know: keep the text as written, consuming no argument.
            if (!conv) {
                out.append(start, p);
                va_end(ap);
                return;
            }
            out.append(start, p + 1);
            break;
        }
    }
    va_end(ap);
}
