// A PKCS#9 counter-signature (the older form of time-stamp) moves the time a signer is judged
// at, when it verifies. Made here: the test TSA counter-signs the expired leaf's signature of
// signed-expired.exe, and the SignedData is rebuilt around it.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <string>

#include "platform/trust/der_reader.h"
#include "tests/trust/trust_test_support.h"

namespace trust_test {
namespace {

using Bytes = std::vector<unsigned char>;
namespace der = velmora::trust::der;

Bytes Encode(unsigned char tag, const Bytes& content) {
    Bytes out{tag};
    const std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        Bytes length;
        for (std::size_t v = n; v; v >>= 8)
            length.insert(length.begin(), static_cast<unsigned char>(v & 0xFF));
        out.push_back(static_cast<unsigned char>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Copy(der::Bytes bytes) {
    return {bytes.begin(), bytes.end()};
}

const Bytes kSha256Algorithm = {0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                                0x03, 0x04, 0x02, 0x01, 0x05, 0x00};
const Bytes kRsaAlgorithm = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                             0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
const Bytes kSigningTimeOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x05};
const Bytes kMessageDigestOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
const Bytes kCounterSignatureOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x06};

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// signed-expired.exe with the TSA's counter-signature of `utcTime` over the signer's signature
// (or over other bytes when `digestOfWrongBytes`), the TSA certificate added to the SignedData.
Bytes CounterSigned(const std::string& utcTime, bool digestOfWrongBytes) {
    Bytes file = ReadFile(Fixture("pe/signed-expired.exe"));
    const std::size_t security = Le32(file, 0x3C) + 24 + 96 + 32;
    const std::size_t table = Le32(file, security);
    const der::Bytes whole(file.data() + table + 8, file.size() - table - 8);
    const auto contentInfo = der::ReadFront(whole);
    der::Reader info(contentInfo->value);
    const auto type = info.Expect(der::tag::kOid);
    const auto wrapped = info.Expect(der::tag::kContext0);
    const auto signedData = der::ReadFront(wrapped->value);

    FILE* f = std::fopen(Fixture("pki/tsa.pem").c_str(), "r");
    X509* tsa = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    f = std::fopen(Fixture("pki/tsa.key").c_str(), "r");
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    unsigned char* out = nullptr;
    const int tsaLength = i2d_X509(tsa, &out);
    const Bytes tsaDer(out, out + tsaLength);
    OPENSSL_free(out);
    out = nullptr;
    const int issuerLength = i2d_X509_NAME(X509_get_issuer_name(tsa), &out);
    const Bytes issuer(out, out + issuerLength);
    OPENSSL_free(out);
    out = nullptr;
    const int serialLength = i2d_ASN1_INTEGER(X509_get_serialNumber(tsa), &out);
    const Bytes serial(out, out + serialLength);
    OPENSSL_free(out);
    X509_free(tsa);

    Bytes rebuilt;
    der::Reader fields(signedData->value);
    while (!fields.AtEnd()) {
        const auto field = fields.Next();
        if (field->tag == der::tag::kContext0) {
            rebuilt = Concat({rebuilt, Encode(0xA0, Concat({Copy(field->value), tsaDer}))});
        } else if (field->tag == der::tag::kSet && fields.AtEnd()) {
            // The signer: append the counter-signature as its unauthenticated attribute.
            const auto signer = der::ReadFront(field->value);
            der::Reader signerFields(signer->value);
            der::Bytes encryptedDigest;
            while (!signerFields.AtEnd()) {
                const auto element = signerFields.Next();
                if (element->tag == der::tag::kOctetString)
                    encryptedDigest = element->value;
            }
            Bytes stamped = Copy(encryptedDigest);
            if (digestOfWrongBytes)
                stamped[0] ^= 1;
            unsigned char digest[32];
            unsigned int digestLength = 0;
            EVP_Digest(stamped.data(), stamped.size(), digest, &digestLength, EVP_sha256(), nullptr);
            const Bytes attributes = Concat({
                Encode(0x30, Concat({kSigningTimeOid,
                                     Encode(0x31, Encode(0x17, Bytes(utcTime.begin(), utcTime.end())))})),
                Encode(0x30, Concat({kMessageDigestOid, Encode(0x31, Encode(0x04, Bytes(digest, digest + 32)))})),
            });
            const Bytes toSign = Encode(0x31, attributes);
            EVP_MD_CTX* ctx = EVP_MD_CTX_new();
            std::size_t signatureLength = 0;
            EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, key);
            EVP_DigestSign(ctx, nullptr, &signatureLength, toSign.data(), toSign.size());
            Bytes signature(signatureLength);
            EVP_DigestSign(ctx, signature.data(), &signatureLength, toSign.data(), toSign.size());
            EVP_MD_CTX_free(ctx);
            const Bytes counterSigner = Encode(
                0x30, Concat({Encode(0x02, {1}), Encode(0x30, Concat({issuer, serial})), kSha256Algorithm,
                              Encode(0xA0, attributes), kRsaAlgorithm, Encode(0x04, signature)}));
            const Bytes unauthenticated =
                Encode(0xA1, Encode(0x30, Concat({kCounterSignatureOid, Encode(0x31, counterSigner)})));
            const Bytes newSigner = Encode(0x30, Concat({Copy(signer->value), unauthenticated}));
            rebuilt = Concat({rebuilt, Encode(0x31, newSigner)});
        } else {
            rebuilt = Concat({rebuilt, Copy(field->whole)});
        }
    }
    EVP_PKEY_free(key);
    Bytes pkcs7 = Encode(0x30, Concat({Copy(type->whole), Encode(0xA0, Encode(0x30, rebuilt))}));
    pkcs7.resize((pkcs7.size() + 7) / 8 * 8, 0);
    file.resize(table + 8);
    file.insert(file.end(), pkcs7.begin(), pkcs7.end());
    PutLe32(file, table, static_cast<std::uint32_t>(8 + pkcs7.size()));
    PutLe32(file, security + 4, static_cast<std::uint32_t>(8 + pkcs7.size()));
    return file;
}

TEST(CounterSignature, VerifiedCounterSignatureJudgesTheSignerAtItsTime) {
    struct Case {
        const char* name;
        const char* utcTime;
        bool wrongDigest;
        LONG status;
    };
    const Case kCases[] = {
        {"counter-signed while the leaf was valid", "200601120000Z", false, 0},
        {"counter-signed after the leaf expired", "220601120000Z", false, CERT_E_EXPIRED},
        {"counter-signature over other bytes is ignored", "200601120000Z", true, CERT_E_EXPIRED},
    };
    const auto folder = ScratchFolder("countersigned");
    int index = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const auto path = folder / ("case" + std::to_string(index++) + ".exe");
        WriteFile(path, CounterSigned(c.utcTime, c.wrongDigest));
        EXPECT_EQ(VerifyEmbedded(DosPath(path)).status, c.status);
    }
}

}  // namespace
}  // namespace trust_test
