// CertNameToStrW over names built by OpenSSL, and over hand-made broken encodings.
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "platform/trust/wincrypt.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Part {
    const char* field; // OpenSSL's short name or a dotted OID
    std::string value; // UTF-8 for MBSTRING_UTF8, else the raw contents octets
    int type = MBSTRING_UTF8;
    bool joinPrevious = false; // a further value of the previous relative name
};

Bytes EncodeName(const std::vector<Part>& parts) {
    X509_NAME* name = X509_NAME_new();
    for (const Part& p : parts) {
        const bool ok = X509_NAME_add_entry_by_txt(
            name, p.field, p.type, reinterpret_cast<const unsigned char*>(p.value.data()),
            static_cast<int>(p.value.size()), -1, p.joinPrevious ? -1 : 0);
        EXPECT_TRUE(ok) << p.field;
    }
    unsigned char* der = nullptr;
    const int n = i2d_X509_NAME(name, &der);
    Bytes out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    X509_NAME_free(name);
    return out;
}

// A one-attribute name written by hand, for values OpenSSL will not encode (empty, ill-formed,
// not a string): CN with the given value tag and contents.
Bytes CommonNameOf(std::uint8_t tag, const std::string& contents) {
    Bytes atv = {0x06, 0x03, 0x55, 0x04, 0x03, tag, static_cast<std::uint8_t>(contents.size())};
    atv.insert(atv.end(), contents.begin(), contents.end());
    Bytes rdn = {0x30, static_cast<std::uint8_t>(atv.size())};
    rdn.insert(rdn.end(), atv.begin(), atv.end());
    Bytes set = {0x31, static_cast<std::uint8_t>(rdn.size())};
    set.insert(set.end(), rdn.begin(), rdn.end());
    Bytes name = {0x30, static_cast<std::uint8_t>(set.size())};
    name.insert(name.end(), set.begin(), set.end());
    return name;
}

std::u16string Format(Bytes der, DWORD type = CERT_X500_NAME_STR, DWORD* returned = nullptr) {
    CERT_NAME_BLOB blob{static_cast<DWORD>(der.size()), der.data()};
    std::u16string buffer(4096, u'\x1234');
    const DWORD n = CertNameToStrW(X509_ASN_ENCODING, &blob, type, buffer.data(), 4096);
    if (returned)
        *returned = n;
    return buffer.substr(0, buffer.find(u'\0'));
}

struct Case {
    const char* what;
    std::vector<Part> name;
    std::u16string expected;
    Bytes der = {}; // used instead of `name` when given
};

TEST(CertNameToStrW, FormatsNamesAsTheX500StringForm) {
    const std::string bmpOmega("\x03\xA9\x00m\x00"
                               "e\x00g\x00"
                               "a",
                               10);                                       // "Ωmega"
    const std::string universalSmile("\x00\x01\xF6\x00\x00\x00\x00!", 8); // U+1F600 "!"
    const std::vector<Case> cases = {
        {"relative names in encoded order, not reversed",
         {{"C", "CN"}, {"O", "Velmora Test"}, {"CN", "Velmora Test Signer"}},
         u"C=CN, O=Velmora Test, CN=Velmora Test Signer"},
        {"common name first stays first", {{"CN", "Signer"}, {"C", "US"}}, u"CN=Signer, C=US"},
        {"the platform's keys",
         {{"L", "l"},
          {"ST", "s"},
          {"street", "st"},
          {"title", "t"},
          {"GN", "g"},
          {"initials", "i"},
          {"SN", "sn"},
          {"DC", "dc"},
          {"serialNumber", "42"},
          {"description", "d"},
          {"postalCode", "pc"},
          {"postOfficeBox", "pb"},
          {"telephoneNumber", "ph"},
          {"x121Address", "x"},
          {"dnQualifier", "q"},
          {"emailAddress", "a@b.c"},
          {"OU", "ou"}},
         u"L=l, S=s, STREET=st, T=t, G=g, I=i, SN=sn, DC=dc, SERIALNUMBER=42, Description=d, PostalCode=pc, "
         u"POBox=pb, Phone=ph, X21Address=x, dnQualifier=q, E=a@b.c, OU=ou"},
        {"an unknown type is written with its dotted OID",
         {{"1.3.6.1.4.1.99999.7", "x"}, {"CN", "y"}},
         u"OID.1.3.6.1.4.1.99999.7=x, CN=y"},
        // The parts of a multi-valued name keep their encoded (sorted) order: CN's OID sorts first.
        {"multi-valued relative name",
         {{"OU", "Team"}, {"CN", "Lead", MBSTRING_UTF8, true}, {"O", "Org"}},
         u"CN=Lead + OU=Team, O=Org"},
        {"comma is quoted", {{"CN", "Example, Inc."}}, u"CN=\"Example, Inc.\""},
        {"inner quotes are doubled", {{"CN", "say \"hi\""}}, u"CN=\"say \"\"hi\"\"\""},
        {"leading space is quoted", {{"CN", " lead"}}, u"CN=\" lead\""},
        {"trailing space is quoted", {{"CN", "trail "}}, u"CN=\"trail \""},
        {"empty value is quoted", {}, u"CN=\"\"", CommonNameOf(0x0C, "")},
        {"each special character is quoted",
         {{"OU", "a+b"},
          {"OU", "a=b"},
          {"OU", "a<b"},
          {"OU", "a>b"},
          {"OU", "#a"},
          {"OU", "a;b"},
          {"OU", "a\nb"}},
         u"OU=\"a+b\", OU=\"a=b\", OU=\"a<b\", OU=\"a>b\", OU=\"#a\", OU=\"a;b\", OU=\"a\nb\""},
        {"inner spaces need no quotes", {{"CN", "two  spaces"}}, u"CN=two  spaces"},
        {"UTF8String", {{"CN", "\xE7\xAD\xBE\xE5\x90\x8D"}}, u"CN=\u7B7E\u540D"},
        {"BMPString is UTF-16 big-endian", {{"CN", bmpOmega, V_ASN1_BMPSTRING}}, u"CN=\u03A9mega"},
        {"UniversalString beyond the BMP becomes a surrogate pair",
         {{"CN", universalSmile, V_ASN1_UNIVERSALSTRING}},
         u"CN=\U0001F600!"},
        {"TeletexString is read as Latin-1", {{"CN", "Caf\xE9", V_ASN1_T61STRING}}, u"CN=Caf\u00E9"},
        {"each byte of ill-formed UTF-8 becomes U+FFFD",
         {},
         u"CN=a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD",
         CommonNameOf(0x0C, "a\xFF"
                            "b\xC0\xAF\xED\xA0\x80")},
        {"a value that is no string is hex", {}, u"CN=#04030102AB", CommonNameOf(0x04, "\x01\x02\xAB")},
    };
    for (const Case& c : cases) {
        DWORD returned = 0;
        const std::u16string text =
            Format(c.der.empty() ? EncodeName(c.name) : c.der, CERT_X500_NAME_STR, &returned);
        EXPECT_EQ(text, c.expected) << c.what;
        EXPECT_EQ(returned, c.expected.size() + 1) << c.what;
    }
}

TEST(CertNameToStrW, SimpleAndOidFormsDifferOnlyInTheKey) {
    const Bytes der = EncodeName({{"O", "Org, Ltd"}, {"CN", "Signer"}});
    EXPECT_EQ(Format(der, CERT_SIMPLE_NAME_STR), u"\"Org, Ltd\", Signer");
    EXPECT_EQ(Format(der, CERT_OID_NAME_STR), u"2.5.4.10=\"Org, Ltd\", 2.5.4.3=Signer");
}

TEST(CertNameToStrW, MalformedOrUnsupportedInputGivesTheEmptyString) {
    const Bytes good = EncodeName({{"CN", "x"}});
    Bytes trailing = good;
    trailing.push_back(0);
    struct Bad {
        const char* what;
        Bytes der;
    };
    const std::vector<Bad> cases = {
        {"no bytes", {}},
        {"not a SEQUENCE", {0x31, 0x00}},
        {"truncated", {0x30, 0x05, 0x31, 0x03, 0x30, 0x01}},
        {"length past the end", {0x30, 0x81, 0xFF, 0x31, 0x00}},
        {"indefinite length", {0x30, 0x80, 0x00, 0x00}},
        {"absurd length of length", {0x30, 0x88, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"trailing bytes", trailing},
        {"relative name not a SET", {0x30, 0x02, 0x30, 0x00}},
        {"attribute without a value", {0x30, 0x09, 0x31, 0x07, 0x30, 0x05, 0x06, 0x03, 0x55, 0x04, 0x03}},
        {"attribute type not an OID",
         {0x30, 0x0A, 0x31, 0x08, 0x30, 0x06, 0x04, 0x01, 0x55, 0x0C, 0x01, 0x41}},
        {"empty OID", {0x30, 0x09, 0x31, 0x07, 0x30, 0x05, 0x06, 0x00, 0x0C, 0x01, 0x41}},
        {"odd-length BMPString",
         {0x30, 0x0E, 0x31, 0x0C, 0x30, 0x0A, 0x06, 0x03, 0x55, 0x04, 0x03, 0x1E, 0x03, 0x00, 0x41, 0x00}},
        {"UniversalString not a multiple of 4",
         {0x30, 0x0D, 0x31, 0x0B, 0x30, 0x09, 0x06, 0x03, 0x55, 0x04, 0x03, 0x1C, 0x02, 0x00, 0x41}},
    };
    for (const Bad& c : cases) {
        DWORD returned = 0;
        EXPECT_EQ(Format(c.der, CERT_X500_NAME_STR, &returned), u"") << c.what;
        EXPECT_EQ(returned, 1u) << c.what;
    }

    Bytes copy = good;
    CERT_NAME_BLOB blob{static_cast<DWORD>(copy.size()), copy.data()};
    char16_t out[8] = {u'?'};
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, nullptr, CERT_X500_NAME_STR, out, 8), 1u);
    EXPECT_EQ(out[0], u'\0');
    out[0] = u'?';
    EXPECT_EQ(CertNameToStrW(PKCS_7_ASN_ENCODING, &blob, CERT_X500_NAME_STR, out, 8), 1u)
        << "no X.509 encoding";
    EXPECT_EQ(out[0], u'\0');
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &blob, CERT_X500_NAME_STR, out, 8), 5u)
        << "the message encoding in the high word is ignored";
    EXPECT_EQ(std::u16string(out), u"CN=x");
    CERT_NAME_BLOB empty{0, nullptr};
    EXPECT_EQ(Format(Bytes{0x30, 0x00}), u"") << "a name without relative names";
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &empty, CERT_X500_NAME_STR, nullptr, 0), 1u);
}

TEST(CertNameToStrW, NeverWritesPastTheBufferAndTruncatesTerminated) {
    Bytes der = EncodeName({{"CN", "Velmora"}}); // "CN=Velmora": 10 characters, 11 with the terminator
    CERT_NAME_BLOB blob{static_cast<DWORD>(der.size()), der.data()};
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0), 11u);
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 5), 11u);

    struct Size {
        DWORD csz;
        DWORD returned;
        std::u16string text;
    };
    const std::vector<Size> sizes = {
        {0, 11, u"untouched"},
        {1, 1, u""},
        {2, 2, u"C"},
        {5, 5, u"CN=V"},
        {10, 10, u"CN=Velmor"},
        {11, 11, u"CN=Velmora"},
        {12, 11, u"CN=Velmora"},
        {40, 11, u"CN=Velmora"},
    };
    for (const Size& s : sizes) {
        std::vector<char16_t> buffer(48, u'\xAAAA');
        const DWORD n = CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer.data(), s.csz);
        EXPECT_EQ(n, s.returned) << "csz " << s.csz;
        if (s.csz == 0) {
            EXPECT_EQ(buffer[0], u'\xAAAA') << "a size query writes nothing";
        } else {
            EXPECT_EQ(std::u16string(buffer.data()), s.text) << "csz " << s.csz;
        }
        const DWORD used = std::min<DWORD>(s.csz, 11);
        for (std::size_t i = used; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], u'\xAAAA') << "csz " << s.csz << " wrote at " << i;
    }
}

} // namespace
