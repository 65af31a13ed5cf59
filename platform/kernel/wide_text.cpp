#include "platform/kernel/wide_text.h"

#include <cwctype>

std::size_t WideLength(LPCWSTR text) {
    if (!text)
        return 0;
    std::size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

int WideCompare(LPCWSTR a, LPCWSTR b) {
    static const WCHAR empty = 0;
    if (!a)
        a = &empty;
    if (!b)
        b = &empty;
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<int>(*a) - static_cast<int>(*b);
}

int WideCompareNoCase(LPCWSTR a, LPCWSTR b) {
    static const WCHAR empty = 0;
    if (!a)
        a = &empty;
    if (!b)
        b = &empty;
    for (;; ++a, ++b) {
        WCHAR x = WideToLower(*a), y = WideToLower(*b);
        if (x != y || !x)
            return static_cast<int>(x) - static_cast<int>(y);
    }
}

WCHAR WideToUpper(WCHAR c) {
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF)
        return c;
    wint_t u = std::towupper(static_cast<wint_t>(c));
    return u <= 0xFFFF ? static_cast<WCHAR>(u) : c;
}

WCHAR WideToLower(WCHAR c) {
    if (c < 0x80)
        return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF)
        return c;
    wint_t l = std::towlower(static_cast<wint_t>(c));
    return l <= 0xFFFF ? static_cast<WCHAR>(l) : c;
}

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendUtf16AsUtf8(out, text);
    return out;
}

void AppendUtf16AsUtf8(std::string& out, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            AppendUtf8(out, cp);
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out += static_cast<char>(c - 0xDC00);  // a byte that was not UTF-8 on the way in
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, c);
        }
    }
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        unsigned char b = s[i];
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        int extra = 0;
        char32_t cp = 0, min = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1, cp = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2, cp = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3, cp = b & 0x07, min = 0x10000;
        }
        bool ok = extra > 0;
        for (int k = 1; ok && k <= extra; ++k) {
            if (i + k >= n || (s[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, encoded surrogates and values past U+10FFFF are not UTF-8 either.
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out += static_cast<char16_t>(0xDC00 + b);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += 1 + extra;
    }
    return out;
}
