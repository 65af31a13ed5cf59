// CertNameToStrW on our own DER reading. The name comes from a certificate in a file we were
// asked to check, so every length is checked against the bytes and nothing is trusted.
#include "platform/trust/cert_name_to_str.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/trust/wincrypt.h"

namespace velmora::trust {
namespace {

using Bytes = std::span<const std::uint8_t>;

struct Tlv {
    std::uint32_t tag = 0; // the tag octets as one number, e.g. 0x0C, 0x1F81
    bool constructed = false;
    Bytes value;
    Bytes whole;
};

// Reads one element with a definite length. High tag numbers are read (a value may carry any
// tag); indefinite lengths, lengths of more than four octets and elements running past the
// bytes are refused.
std::optional<Tlv> ReadTlv(Bytes& rest) {
    std::size_t pos = 0;
    if (rest.empty())
        return std::nullopt;
    Tlv t;
    t.constructed = (rest[0] & 0x20) != 0;
    t.tag = rest[pos++];
    if ((t.tag & 0x1F) == 0x1F) {
        for (int i = 0;; ++i) {
            if (pos >= rest.size() || i == 3)
                return std::nullopt;
            const std::uint8_t b = rest[pos++];
            t.tag = (t.tag << 8) | b;
            if ((b & 0x80) == 0)
                break;
        }
    }
    if (pos >= rest.size())
        return std::nullopt;
    std::size_t length = rest[pos++];
    if (length & 0x80) {
        const std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || rest.size() - pos < count)
            return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | rest[pos++];
    }
    if (rest.size() - pos < length)
        return std::nullopt;
    t.value = rest.subspan(pos, length);
    t.whole = rest.first(pos + length);
    rest = rest.subspan(pos + length);
    return t;
}

struct Key {
    std::string_view oid;
    std::u16string_view name;
};

// The platform's X.500 keys; any other type is written as OID.<dotted>.
constexpr std::array kKeys = {
    Key{"2.5.4.3", u"CN"},
    Key{"2.5.4.7", u"L"},
    Key{"2.5.4.10", u"O"},
    Key{"2.5.4.11", u"OU"},
    Key{"1.2.840.113549.1.9.1", u"E"},
    Key{"2.5.4.6", u"C"},
    Key{"2.5.4.8", u"S"},
    Key{"2.5.4.9", u"STREET"},
    Key{"2.5.4.12", u"T"},
    Key{"2.5.4.42", u"G"},
    Key{"2.5.4.43", u"I"},
    Key{"2.5.4.4", u"SN"},
    Key{"0.9.2342.19200300.100.1.25", u"DC"},
    Key{"2.5.4.5", u"SERIALNUMBER"},
    Key{"2.5.4.13", u"Description"},
    Key{"2.5.4.17", u"PostalCode"},
    Key{"2.5.4.18", u"POBox"},
    Key{"2.5.4.20", u"Phone"},
    Key{"2.5.4.24", u"X21Address"},
    Key{"2.5.4.46", u"dnQualifier"},
    Key{"1.2.840.113549.1.9.2", u"UnstructuredName"},
    Key{"1.2.840.113549.1.9.8", u"UnstructuredAddress"},
};

std::optional<std::string> DottedOid(const Tlv& oid) {
    if (oid.tag != 0x06)
        return std::nullopt;
    const unsigned char* p = oid.whole.data();
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> obj(
        d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(oid.whole.size())), ASN1_OBJECT_free);
    if (!obj)
        return std::nullopt;
    std::string text(64, '\0');
    int n = OBJ_obj2txt(text.data(), static_cast<int>(text.size()), obj.get(), 1);
    if (n >= static_cast<int>(text.size())) {
        text.assign(static_cast<std::size_t>(n) + 1, '\0');
        n = OBJ_obj2txt(text.data(), static_cast<int>(text.size()), obj.get(), 1);
    }
    if (n <= 0)
        return std::nullopt;
    text.resize(static_cast<std::size_t>(n));
    return text;
}

void AppendCodePoint(std::u16string& out, std::uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// UTF-8 to UTF-16; each byte that does not start a well-formed sequence becomes U+FFFD.
std::u16string FromUtf8(Bytes s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const std::uint8_t b = s[i];
        std::size_t extra = 0;
        std::uint32_t cp = b;
        bool ok = true;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            cp = b & 0x07;
        } else if (b >= 0x80) {
            ok = false;
        }
        if (ok && extra != 0) {
            if (s.size() - i <= extra)
                ok = false;
            for (std::size_t k = 1; ok && k <= extra; ++k) {
                if ((s[i + k] & 0xC0) != 0x80)
                    ok = false;
                else
                    cp = (cp << 6) | (s[i + k] & 0x3F);
            }
            // Overlong forms and surrogates are not well-formed.
            if (ok && ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
                       (cp >= 0xD800 && cp <= 0xDFFF)))
                ok = false;
        }
        if (ok) {
            AppendCodePoint(out, cp);
            i += 1 + extra;
        } else {
            out.push_back(u'\xFFFD');
            i += 1;
        }
    }
    return out;
}

// The text of an attribute value; nullopt for a string whose length cannot be right.
// `isString` is false when the value is written as hex.
std::optional<std::u16string> ValueText(const Tlv& v, bool& isString) {
    isString = true;
    std::u16string out;
    switch (v.tag) {
    case 0x0C: // UTF8String
        return FromUtf8(v.value);
    case 0x12: // NumericString
    case 0x13: // PrintableString
    case 0x14: // TeletexString (T61), read as Latin-1
    case 0x15: // VideotexString
    case 0x16: // IA5String
    case 0x19: // GraphicString
    case 0x1A: // VisibleString
    case 0x1B: // GeneralString
        for (std::uint8_t b : v.value)
            out.push_back(static_cast<char16_t>(b));
        return out;
    case 0x1E: // BMPString: UTF-16 big-endian
        if (v.value.size() % 2 != 0)
            return std::nullopt;
        for (std::size_t i = 0; i < v.value.size(); i += 2)
            out.push_back(static_cast<char16_t>((v.value[i] << 8) | v.value[i + 1]));
        return out;
    case 0x1C: // UniversalString: UTF-32 big-endian
        if (v.value.size() % 4 != 0)
            return std::nullopt;
        for (std::size_t i = 0; i < v.value.size(); i += 4)
            AppendCodePoint(out, (std::uint32_t{v.value[i]} << 24) | (std::uint32_t{v.value[i + 1]} << 16) |
                                     (std::uint32_t{v.value[i + 2]} << 8) | v.value[i + 3]);
        return out;
    default: {
        isString = false;
        static constexpr char16_t kHex[] = u"0123456789ABCDEF";
        out.push_back(u'#');
        for (std::uint8_t b : v.whole) {
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
        }
        return out;
    }
    }
}

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool NeedsQuotes(std::u16string_view s) {
    if (s.empty() || IsSpace(s.front()) || IsSpace(s.back()))
        return true;
    return s.find_first_of(u",+=\"\n<>#;") != std::u16string_view::npos;
}

void AppendValue(std::u16string& out, std::u16string_view s) {
    if (!NeedsQuotes(s)) {
        out += s;
        return;
    }
    out.push_back(u'"');
    for (char16_t c : s) {
        if (c == u'"')
            out.push_back(u'"');
        out.push_back(c);
    }
    out.push_back(u'"');
}

bool AppendAttribute(std::u16string& out, Bytes atv, DWORD strType) {
    const auto type = ReadTlv(atv);
    if (!type)
        return false;
    const auto value = ReadTlv(atv);
    if (!value || !atv.empty())
        return false;
    const auto oid = DottedOid(*type);
    if (!oid)
        return false;
    bool isString = true;
    const auto text = ValueText(*value, isString);
    if (!text)
        return false;

    if (strType == CERT_X500_NAME_STR) {
        const auto key =
            std::find_if(kKeys.begin(), kKeys.end(), [&](const Key& k) { return k.oid == *oid; });
        if (key != kKeys.end()) {
            out += key->name;
        } else {
            out += u"OID.";
            out.append(oid->begin(), oid->end());
        }
        out.push_back(u'=');
    } else if (strType == CERT_OID_NAME_STR) {
        out.append(oid->begin(), oid->end());
        out.push_back(u'=');
    }
    if (isString)
        AppendValue(out, *text);
    else
        out += *text;
    return true;
}

} // namespace

std::optional<std::u16string> FormatName(std::span<const std::uint8_t> der, DWORD strType) {
    if (strType != CERT_SIMPLE_NAME_STR && strType != CERT_OID_NAME_STR && strType != CERT_X500_NAME_STR)
        return std::nullopt;
    Bytes rest = der;
    const auto name = ReadTlv(rest);
    if (!name || name->tag != 0x30 || !rest.empty())
        return std::nullopt;

    std::u16string out;
    Bytes rdns = name->value;
    bool firstRdn = true;
    while (!rdns.empty()) {
        const auto rdn = ReadTlv(rdns);
        if (!rdn || rdn->tag != 0x31)
            return std::nullopt;
        if (!firstRdn)
            out += u", ";
        firstRdn = false;
        Bytes atvs = rdn->value;
        bool firstAtv = true;
        while (!atvs.empty()) {
            const auto atv = ReadTlv(atvs);
            if (!atv || atv->tag != 0x30)
                return std::nullopt;
            if (!firstAtv)
                out += u" + ";
            firstAtv = false;
            if (!AppendAttribute(out, atv->value, strType))
                return std::nullopt;
        }
    }
    return out;
}

} // namespace velmora::trust

extern "C" DWORD CertNameToStrW(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType, LPWSTR psz,
                                DWORD csz) {
    std::optional<std::u16string> text;
    // The message encoding in the high word is ignored, as the platform does.
    if ((dwCertEncodingType & 0xFFFF) == X509_ASN_ENCODING && pName != nullptr &&
        (pName->pbData != nullptr || pName->cbData == 0))
        text = velmora::trust::FormatName(std::span<const std::uint8_t>(pName->pbData, pName->cbData),
                                          dwStrType);
    // Anything that cannot be formatted comes out as the empty string.
    const std::u16string result = text.value_or(std::u16string());
    const std::size_t needed = result.size() + 1;

    if (psz == nullptr || csz == 0)
        return static_cast<DWORD>(needed);
    // A buffer that is too small gets as much as fits, still terminated; the count is then that
    // of the characters written, the terminator included.
    const std::size_t written = std::min<std::size_t>(needed, csz);
    std::copy_n(result.data(), written - 1, psz);
    psz[written - 1] = u'\0';
    return static_cast<DWORD>(written);
}
