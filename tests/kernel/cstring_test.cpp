#include "platform/kernel/cstring.h"

#include <gtest/gtest.h>

#include "platform/kernel/wide_text.h"

namespace {

CString Formatted(LPCWSTR format, auto... args) {
    CString s;
    s.Format(format, args...);
    return s;
}

TEST(CString, FormatProducesTheConversionsTheProgramUses) {
    struct Case {
        CString got;
        const char16_t* want;
    } cases[] = {
        {Formatted(u"%s\\*.*", u"C:\\dir"), u"C:\\dir\\*.*"},
        {Formatted(u"%c:\\", u'A' + 1), u"B:\\"},
        {Formatted(u"扫描完成！共扫描%d个文件。", 42), u"扫描完成！共扫描42个文件。"},
        {Formatted(u"%02X%02X", 0x0A, 0xFF), u"0AFF"},
        {Formatted(u"%d|%u|%x|%%", -7, 4000000000u, 0xbeef), u"-7|4000000000|beef|%"},
        {Formatted(u"[%5d][%-4s][%.2s][%05d]", 42, u"ab", u"xyz", -42), u"[   42][ab  ][xy][-0042]"},
        {Formatted(u"%s", static_cast<LPCWSTR>(nullptr)), u"(null)"},
        {Formatted(u"%I64d %lld %lu", 1LL << 40, -1LL, 7ul), u"1099511627776 -1 7"},
        {Formatted(u"%c%c", 0x4E2D, 0x6587), u"中文"},
        {Formatted(u"100%"), u"100%"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.want) << CString(c.want).ToUtf8();
}

TEST(CString, SubstringsAndSearchesStayInsideTheText) {
    CString s(u"C:\\windows\\system32");
    EXPECT_EQ(s.GetLength(), 19);
    EXPECT_EQ(s.Left(2), u"C:");
    EXPECT_EQ(s.Left(99), s);
    EXPECT_EQ(s.Left(-1), u"");
    EXPECT_EQ(s.Mid(3, 7), u"windows");
    EXPECT_EQ(s.Mid(11), u"system32");
    EXPECT_EQ(s.Mid(50), u"");
    EXPECT_EQ(s.Mid(-5, 2), u"C:");
    EXPECT_EQ(s.Right(8), u"system32");
    EXPECT_EQ(s.Right(100), s);
    EXPECT_EQ(s.Find(u'\\'), 2);
    EXPECT_EQ(s.Find(u'\\', 3), 10);
    EXPECT_EQ(s.Find(u"system"), 11);
    EXPECT_EQ(s.Find(u"nope"), -1);
    EXPECT_EQ(s.Find(u'\\', 100), -1);
    EXPECT_EQ(s.ReverseFind(u'\\'), 10);
    EXPECT_EQ(s[0], u'C');
    EXPECT_EQ(s.GetAt(19), 0);
    EXPECT_EQ(s.GetAt(-1), 0);
}

TEST(CString, ComparesConcatenatesAndChangesCase) {
    CString a(u"abc");
    CString b = a + u"\\" + CString(u"Def") + u'!';
    EXPECT_EQ(b, u"abc\\Def!");
    EXPECT_NE(a, b);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(CString(u"B") < CString(u"a"));  // ordinal, like wcscmp
    EXPECT_EQ(CString(u"b").CompareNoCase(u"B"), 0);
    b.MakeUpper();
    EXPECT_EQ(b, u"ABC\\DEF!");
    a += a;
    EXPECT_EQ(a, u"abcabc");
    a.Empty();
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(CString(static_cast<LPCWSTR>(nullptr)), u"");
    CString filled;
    LPWSTR buffer = filled.GetBuffer(10);
    buffer[0] = u'o', buffer[1] = u'k', buffer[2] = 0;
    filled.ReleaseBuffer();
    EXPECT_EQ(filled, u"ok");
}

TEST(WideText, Utf8RoundTripKeepsEveryByteOfAFileName) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
    } valid[] = {
        {"plain.exe", u"plain.exe"},
        {"\xE4\xB8\xAD\xE6\x96\x87.dll", u"中文.dll"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
    };
    for (const auto& c : valid) {
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
        EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    }
    // Bytes that are not UTF-8 (a Latin-1 name, a cut sequence, an overlong form) come back
    // unchanged, so a file found on disk can be opened again by the name it was listed under.
    for (std::string raw : {std::string("caf\xE9.exe"), std::string("\xE4\xB8"), std::string("\xC0\xAF"),
                            std::string("\xED\xA0\x80")}) {
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(raw)), raw);
    }
    EXPECT_EQ(WideLength(u"abc"), 3u);
    EXPECT_EQ(WideLength(nullptr), 0u);
    EXPECT_LT(WideCompare(u"ab", u"abc"), 0);
    EXPECT_EQ(WideCompare(nullptr, u""), 0);
}

}  // namespace
