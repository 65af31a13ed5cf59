#include "cli/row_output.h"

#include <cstdio>

#include "platform/kernel/wide_text.h"
#include "verify/result_codes.h"

namespace velmora::cli {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendHexByte(std::string& out, unsigned char byte) {
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

// Length of the valid UTF-8 sequence starting at text[i], or 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
    if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    codePoint = value;
    return length;
}

int CodePointWidth(char32_t c) {
    if (c == 0 || (c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F))
        return 0;
    auto in = [c](char32_t from, char32_t to) { return c >= from && c <= to; };
    if (in(0x1100, 0x115F) || in(0x2E80, 0x303E) || in(0x3041, 0x33FF) || in(0x3400, 0x4DBF) ||
        in(0x4E00, 0x9FFF) || in(0xA000, 0xA4CF) || in(0xAC00, 0xD7A3) || in(0xF900, 0xFAFF) ||
        in(0xFE30, 0xFE4F) || in(0xFF00, 0xFF60) || in(0xFFE0, 0xFFE6) || in(0x1F300, 0x1F64F) ||
        in(0x20000, 0x3FFFD))
        return 2;
    return 1;
}

std::string Field(const CString& text, bool forTerminal) { return EscapeField(text.ToUtf8(), forTerminal); }
std::string Field(const std::u16string& text, bool forTerminal) {
    return EscapeField(Utf16ToUtf8(text), forTerminal);
}

// A JSON string from UTF-16: valid pairs become UTF-8, and a lone surrogate (how the kernel layer
// carries a file-name byte that is not UTF-8) is kept as its \u escape, so the string stays valid
// UTF-8 and still names the file.
std::string JsonString(std::u16string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit == u'"') {
            out += "\\\"";
        } else if (unit == u'\\') {
            out += "\\\\";
        } else if (unit == u'\n') {
            out += "\\n";
        } else if (unit == u'\t') {
            out += "\\t";
        } else if (unit == u'\r') {
            out += "\\r";
        } else if (unit < 0x20 || unit == 0x7F || (unit >= 0x80 && unit < 0xA0) || unit == 0x2028 || unit == 0x2029) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            out += escape;
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            out += Utf16ToUtf8(text.substr(i, 2));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            out += escape;
        } else {
            out += Utf16ToUtf8(text.substr(i, 1));
        }
    }
    out += '"';
    return out;
}

std::string PadTo(std::string text, std::size_t width) {
    std::size_t used = DisplayWidth(text);
    if (used < width)
        text.append(width - used, ' ');
    return text;
}

constexpr std::size_t kNameColumn = 28;
constexpr std::size_t kVerdictColumn = 8;
constexpr std::size_t kSignerColumn = 28;

const char* VerdictWord(const ScanRow& row) { return row.passed ? "通过" : "未通过"; }

}  // namespace

std::string EscapeField(std::string_view utf8, bool forTerminal) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            AppendHexByte(out, byte);
        } else if (byte >= 0x80 && forTerminal) {
            char32_t codePoint = 0;
            std::size_t length = Utf8SequenceLength(utf8, i, codePoint);
            if (length == 0 || (codePoint >= 0x80 && codePoint < 0xA0)) {
                for (std::size_t k = 0; k < (length ? length : 1); ++k)
                    AppendHexByte(out, static_cast<unsigned char>(utf8[i + k]));
                i += length ? length : 1;
                continue;
            }
            out.append(utf8.substr(i, length));
            i += length;
            continue;
        } else {
            out += static_cast<char>(byte);
        }
        ++i;
    }
    return out;
}

std::size_t DisplayWidth(std::string_view utf8) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t codePoint = 0;
        std::size_t length = Utf8SequenceLength(utf8, i, codePoint);
        if (length == 0) {
            width += 1;
            i += 1;
            continue;
        }
        width += static_cast<std::size_t>(CodePointWidth(codePoint));
        i += length;
    }
    return width;
}

std::string ResultCodeName(int code) {
    switch (code) {
    case VR_OK: return "VR_OK";
    case VR_NOT_TRUSTED: return "VR_NOT_TRUSTED";
    case VR_LOAD_FAILED: return "VR_LOAD_FAILED";
    case VR_RESOLVE_FAILED: return "VR_RESOLVE_FAILED";
    case VR_CONTEXT_FAILED: return "VR_CONTEXT_FAILED";
    case VR_RELEASE_FAILED: return "VR_RELEASE_FAILED";
    case VR_UNLOAD_FAILED: return "VR_UNLOAD_FAILED";
    case VR_NOT_READY: return "VR_NOT_READY";
    case VR_OPEN_FAILED: return "VR_OPEN_FAILED";
    case VR_NO_SIGNER_NAME: return "VR_NO_SIGNER_NAME";
    case VR_NAME_TOO_LONG: return "VR_NAME_TOO_LONG";
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(code));
    return text;
}

std::string FormatTsvRow(const ScanRow& row) {
    std::string line = Field(row.name, false);
    line += '\t';
    line += VerdictWord(row);
    line += '\t';
    line += Field(row.signer, false);
    line += '\t';
    line += EscapeField(row.linuxPath, false);
    line += '\n';
    return line;
}

std::string FormatJsonRow(const ScanRow& row) {
    std::string line = "{\"name\":" + JsonString(row.name.Text());
    line += ",\"verdict\":";
    line += row.code == VR_OK ? "\"pass\"" : "\"fail\"";
    line += ",\"signer\":" + JsonString(row.signer);
    // The Linux path goes through the same UTF-16 form, so a byte that is not UTF-8 comes out as
    // the same escape in both paths.
    line += ",\"path\":" + JsonString(Utf8ToUtf16(row.linuxPath));
    line += ",\"dos_path\":" + JsonString(row.dosPath.Text());
    line += ",\"code\":\"" + ResultCodeName(row.code) + "\"";
    line += ",\"listed\":";
    line += row.listed ? "true" : "false";
    line += "}\n";
    return line;
}

std::string TableHeader() {
    return PadTo("文件名称", kNameColumn) + " " + PadTo("签名", kVerdictColumn) + " " + PadTo("签名公司", kSignerColumn) +
           " 文件路径\n";
}

std::string FormatTableRow(const ScanRow& row) {
    return PadTo(Field(row.name, true), kNameColumn) + " " + PadTo(VerdictWord(row), kVerdictColumn) + " " +
           PadTo(Field(row.signer, true), kSignerColumn) + " " + EscapeField(row.linuxPath, true) + "\n";
}

std::string FormatRow(OutputFormat format, const ScanRow& row) {
    switch (format) {
    case OutputFormat::Tsv: return FormatTsvRow(row);
    case OutputFormat::Json: return FormatJsonRow(row);
    case OutputFormat::Table: return FormatTableRow(row);
    }
    return {};
}

}  // namespace velmora::cli
