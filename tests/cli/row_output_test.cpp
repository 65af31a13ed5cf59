// The row formats over arbitrary bytes from disk and certificates: whatever a name, a signer or a
// path holds, a TSV row stays one line of four fields, a JSON row stays one line of valid UTF-8
// that gives back the same text, and the progress line never outgrows the terminal.
#include <gtest/gtest.h>

#include <random>

#include "cli/progress_line.h"
#include "cli/row_output.h"
#include "platform/kernel/wide_text.h"
#include "tests/cli/valid_utf8.h"
#include "verify/result_codes.h"

namespace {

using namespace velmora::cli;

using clitest::ValidUtf8;

// Reads back a JSON string's UTF-16 units; at points at the opening quote, and is left after the
// closing one.
std::u16string ReadJsonString(const std::string& line, std::size_t& at) {
    std::u16string out;
    std::string pending;
    auto flush = [&] {
        out += Utf8ToUtf16(pending);
        pending.clear();
    };
    for (++at; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] != '\\') {
            pending += line[at];
            continue;
        }
        flush();
        const char c = line[++at];
        if (c == 'u') {
            out += static_cast<char16_t>(std::stoi(line.substr(at + 1, 4), nullptr, 16));
            at += 4;
        } else {
            out += c == 'n' ? u'\n' : c == 't' ? u'\t' : c == 'r' ? u'\r' : static_cast<char16_t>(c);
        }
    }
    flush();
    ++at;
    return out;
}

std::u16string JsonField(const std::string& line, const std::string& name) {
    std::size_t at = line.find("\"" + name + "\":\"");
    if (at == std::string::npos)
        return u"<missing>";
    at += name.size() + 3;
    return ReadJsonString(line, at);
}

// Text the way the layer holds it: any UTF-16 units, lone surrogates (bytes that were not UTF-8)
// and control characters included.
std::u16string RandomText(std::mt19937& random) {
    static const char16_t kPool[] = {u'a', u'\\', u'"', u'\t', u'\n', u'\r', 0x1B, 0x7F, 0x85, 0x9B,
                                     u'/', u' ', 0x4E2D, 0x3000, 0xDC80, 0xDCFF, 0xD83D, 0xDE00, 0x2028, 0xFFFD};
    std::u16string text;
    const std::size_t length = random() % 24;
    for (std::size_t i = 0; i < length; ++i)
        text += random() % 3 ? kPool[random() % std::size(kPool)] : static_cast<char16_t>(random() % 0x10000);
    return text;
}

TEST(RowOutput, NoFieldContentBreaksTheRowFormats) {
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        ScanRow row;
        row.name = CString(RandomText(random));
        row.signer = RandomText(random);
        row.dosPath = CString(u"Z:\\" + RandomText(random));
        row.linuxPath = "/" + Utf16ToUtf8(RandomText(random));
        row.code = round % 2 ? VR_OK : VR_NOT_TRUSTED;
        row.passed = row.code == VR_OK;
        row.listed = true;
        SCOPED_TRACE(round);

        const std::string tsv = FormatTsvRow(row);
        ASSERT_EQ(tsv.back(), '\n');
        std::size_t tabs = 0;
        for (std::size_t i = 0; i + 1 < tsv.size(); ++i) {
            const auto c = static_cast<unsigned char>(tsv[i]);
            ASSERT_TRUE(c >= 0x20 || c == '\t') << "control byte " << int(c);
            ASSERT_NE(c, 0x7F);
            tabs += c == '\t';
        }
        ASSERT_EQ(tabs, 3u) << tsv;

        const std::string table = FormatTableRow(row);
        ASSERT_TRUE(ValidUtf8(table)) << table;
        for (std::size_t i = 0; i + 1 < table.size(); ++i)
            ASSERT_GE(static_cast<unsigned char>(table[i]), 0x20);
        ASSERT_EQ(table.find("\xC2\x9B"), std::string::npos);  // no C1 control sequence introducer

        const std::string json = FormatJsonRow(row);
        ASSERT_TRUE(ValidUtf8(json)) << json;
        ASSERT_EQ(json.find('\n'), json.size() - 1);
        for (unsigned char c : json.substr(0, json.size() - 1))
            ASSERT_GE(c, 0x20);
        EXPECT_EQ(JsonField(json, "name"), row.name.Text());
        EXPECT_EQ(JsonField(json, "signer"), row.signer);
        EXPECT_EQ(JsonField(json, "dos_path"), row.dosPath.Text());
        EXPECT_EQ(JsonField(json, "path"), Utf8ToUtf16(row.linuxPath));
    }
}

TEST(RowOutput, ProgressTextNeverOutgrowsTheTerminal) {
    std::mt19937 random(11);
    for (int round = 0; round < 2000; ++round) {
        const std::size_t width = 1 + random() % 100;
        const std::string path = Utf16ToUtf8(RandomText(random) + RandomText(random) + RandomText(random));
        const std::string text = ProgressText(random() % 1000000, random() % 1000, 0.5, path, width);
        SCOPED_TRACE(round);
        ASSERT_LE(DisplayWidth(text), width) << text;
        ASSERT_TRUE(ValidUtf8(text)) << text;
        for (unsigned char c : text)
            ASSERT_GE(c, 0x20);
    }
    // A path that fits is shown whole; one that does not keeps its end.
    EXPECT_EQ(ProgressText(3, 1, 1.0, "/a/b", 80), "3 files, 1 verified, 3 files/s  /a/b");
    // 32 columns of counts leave 12: the ellipsis, then "径/名前.exe" (a wide character is never
    // split, so a cut line may end one column short).
    const std::string cut = ProgressText(3, 1, 1.0, "/very/long/路径/名前.exe", 44);
    EXPECT_EQ(cut, "3 files, 1 verified, 3 files/s  …径/名前.exe");
}

}  // namespace
