#include "platform/trust/signature_check.h"

#include <algorithm>
#include <cstring>

#include "platform/trust/certificate_table.h"
#include "platform/trust/oids.h"
#include "platform/trust/ossl_handles.h"
#include "platform/trust/pe_image_hash.h"

namespace velmora::trust {
namespace {

namespace tag = der::tag;
using der::Reader;

bool SameBytes(der::Bytes a, der::Bytes b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

bool Digest(const EVP_MD* md, der::Bytes data, Der& out) {
    unsigned int length = 0;
    out.resize(EVP_MAX_MD_SIZE);
    if (EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr) != 1)
        return false;
    out.resize(length);
    return true;
}

X509Ptr ParseCertificate(der::Bytes der) {
    const unsigned char* p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

// Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version OPTIONAL, serialNumber INTEGER,
//   signature AlgorithmIdentifier, issuer Name, ... }, ... }
bool IssuerAndSerialOf(der::Bytes certificate, der::Bytes& issuer, der::Bytes& serial) {
    const auto outer = der::ReadFront(certificate);
    if (!outer || outer->tag != tag::kSequence)
        return false;
    Reader reader(outer->value);
    const auto tbs = reader.Expect(tag::kSequence);
    if (!tbs)
        return false;
    Reader fields(tbs->value);
    fields.Optional(tag::kContext0);
    const auto serialElement = fields.Expect(tag::kInteger);
    const auto algorithm = fields.Expect(tag::kSequence);
    const auto issuerElement = fields.Expect(tag::kSequence);
    if (!serialElement || !algorithm || !issuerElement)
        return false;
    issuer = issuerElement->whole;
    serial = serialElement->value;
    return true;
}

X509Ptr FindSignerCertificate(const SignerInfo& signer, const std::vector<der::Bytes>& certificates) {
    for (const der::Bytes certificate : certificates) {
        if (!signer.subjectKeyId.empty()) {
            X509Ptr x509 = ParseCertificate(certificate);
            const ASN1_OCTET_STRING* keyId = x509 ? X509_get0_subject_key_id(x509.get()) : nullptr;
            if (keyId && SameBytes(signer.subjectKeyId,
                                   der::Bytes(ASN1_STRING_get0_data(keyId), ASN1_STRING_length(keyId))))
                return x509;
            continue;
        }
        der::Bytes issuer, serial;
        if (IssuerAndSerialOf(certificate, issuer, serial) && SameBytes(issuer, signer.issuer) &&
            SameBytes(serial, signer.serial))
            return ParseCertificate(certificate);
    }
    return nullptr;
}

// The signature covers the DER of the attributes as a SET OF: the file's own bytes with the
// [0] IMPLICIT tag replaced by the SET tag. Re-encoding would sort them and break signers that
// emit them unsorted.
bool SignatureOverAttributesHolds(const SignerInfo& signer, const EVP_MD* md, X509* certificate) {
    EVP_PKEY* key = X509_get0_pubkey(certificate);
    if (!key)
        return false;
    Der signedBytes(signer.authenticatedAttributes.begin(), signer.authenticatedAttributes.end());
    signedBytes[0] = tag::kSet;
    MdCtxPtr ctx(EVP_MD_CTX_new());
    return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
           EVP_DigestVerify(ctx.get(), signer.signature.data(), signer.signature.size(), signedBytes.data(),
                            signedBytes.size()) == 1;
}

bool HasExtendedUsage(X509* certificate, std::string_view usage) {
    EkuPtr eku(
        static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(certificate, NID_ext_key_usage, nullptr, nullptr)));
    if (!eku)
        return false;
    char text[128];
    for (int i = 0; i < sk_ASN1_OBJECT_num(eku.get()); ++i) {
        if (OBJ_obj2txt(text, sizeof text, sk_ASN1_OBJECT_value(eku.get(), i), 1) > 0 && usage == text)
            return true;
    }
    return false;
}

// A certificate that lists extended usages must include the one asked for (or any usage).
bool AllowsUsage(X509* certificate, Usage usage) {
    if (!(X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE))
        return true;
    const std::uint32_t usages = X509_get_extended_key_usage(certificate);
    if (usages & XKU_ANYEKU)
        return true;
    switch (usage) {
    case Usage::CodeSigning:
        return usages & XKU_CODE_SIGN;
    case Usage::CatalogSigning:
        return (usages & XKU_CODE_SIGN) || HasExtendedUsage(certificate, oid::kSystemComponentVerification);
    case Usage::TimeStamping:
        return usages & XKU_TIMESTAMP;
    }
    return false;
}

bool SignedWithWeakDigest(X509* certificate) {
    int digestNid = NID_undef, keyNid = NID_undef;
    if (!OBJ_find_sigid_algs(X509_get_signature_nid(certificate), &digestNid, &keyNid))
        return false;
    return digestNid == NID_md5 || digestNid == NID_md2 || digestNid == NID_md4;
}

Verdict VerdictOfChainError(int error) {
    switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return Verdict::Expired;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return Verdict::UntrustedRoot;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        return Verdict::BadCertificateSignature;
    case X509_V_ERR_INVALID_PURPOSE:
        return Verdict::WrongUsage;
    default:
        return Verdict::IncompleteChain;
    }
}

Der Encode(X509* certificate) {
    unsigned char* out = nullptr;
    const int length = i2d_X509(certificate, &out);
    if (length <= 0)
        return {};
    Der der(out, out + length);
    OPENSSL_free(out);
    return der;
}

// Builds and checks the chain from `leaf` to an anchor, with the SignedData's certificates as
// intermediates. Any certificate of the store is an anchor, intermediates too.
SignatureReport VerifyChain(X509* leaf, const std::vector<der::Bytes>& certificates, X509_STORE* anchors,
                            Usage usage, std::optional<std::time_t> at) {
    SignatureReport report;
    report.chain.push_back(Encode(leaf));
    X509StackPtr intermediates(sk_X509_new_null());
    X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!intermediates || !ctx || !anchors)
        return report;
    for (const der::Bytes bytes : certificates) {
        X509Ptr certificate = ParseCertificate(bytes);
        if (certificate && sk_X509_push(intermediates.get(), certificate.get()) > 0)
            certificate.release();
    }
    if (X509_STORE_CTX_init(ctx.get(), anchors, leaf, intermediates.get()) != 1)
        return report;
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
    if (at)
        X509_STORE_CTX_set_time(ctx.get(), 0, *at);
    if (X509_verify_cert(ctx.get()) != 1) {
        report.verdict = VerdictOfChainError(X509_STORE_CTX_get_error(ctx.get()));
        return report;
    }
    X509StackPtr chain(X509_STORE_CTX_get1_chain(ctx.get()));
    const int count = chain ? sk_X509_num(chain.get()) : 0;
    for (int i = 1; i < count; ++i)
        report.chain.push_back(Encode(sk_X509_value(chain.get(), i)));
    // The anchor's own usages and self-signature are the store's business; every certificate
    // below it must allow the usage and be signed with a digest we trust.
    const int checked = count > 1 ? count - 1 : count;
    for (int i = 0; i < checked; ++i) {
        X509* certificate = sk_X509_value(chain.get(), i);
        if (!AllowsUsage(certificate, usage)) {
            report.verdict = Verdict::WrongUsage;
            return report;
        }
        if (SignedWithWeakDigest(certificate)) {
            report.verdict = Verdict::WeakDigest;
            return report;
        }
    }
    report.verdict = Verdict::Trusted;
    return report;
}

struct SignedContent {
    std::string_view contentType; // empty: the signer carries no content-type attribute (counter-signatures)
    der::Bytes content;
    const std::vector<der::Bytes>& certificates;
};

std::optional<std::time_t>
VerifiedTimeStamp(const SignerInfo& signer, const std::vector<der::Bytes>& certificates, X509_STORE* anchors);

SignatureReport VerifySigner(const SignerInfo& signer, const SignedContent& signed_, X509_STORE* anchors,
                             Usage usage, std::optional<std::time_t> at) {
    SignatureReport report;
    if (IsWeakDigestOid(signer.digestOid)) {
        report.verdict = Verdict::WeakDigest;
        return report;
    }
    const EVP_MD* md = DigestForOid(signer.digestOid);
    if (!md || signer.authenticatedAttributes.empty())
        return report; // Malformed: Authenticode signers always sign attributes
    if (!signed_.contentType.empty()) {
        const auto type = FindAttributeValue(signer.authenticatedContents, oid::kContentType);
        if (!type || type->tag != tag::kOid || der::OidText(type->value) != signed_.contentType)
            return report;
    }
    const auto messageDigest = FindAttributeValue(signer.authenticatedContents, oid::kMessageDigest);
    if (!messageDigest || messageDigest->tag != tag::kOctetString)
        return report;
    Der contentDigest;
    if (!Digest(md, signed_.content, contentDigest) || !SameBytes(contentDigest, messageDigest->value)) {
        report.verdict = Verdict::BadDigest;
        return report;
    }
    X509Ptr certificate = FindSignerCertificate(signer, signed_.certificates);
    if (!certificate) {
        report.verdict = Verdict::NoSignerCertificate;
        return report;
    }
    if (!SignatureOverAttributesHolds(signer, md, certificate.get())) {
        report.verdict = Verdict::BadSignature;
        report.chain.push_back(Encode(certificate.get()));
        return report;
    }
    if (usage != Usage::TimeStamping && !at) {
        // A lifetime-signing certificate is judged now even when time-stamped.
        if (!HasExtendedUsage(certificate.get(), oid::kLifetimeSigning))
            at = VerifiedTimeStamp(signer, signed_.certificates, anchors);
    }
    return VerifyChain(certificate.get(), signed_.certificates, anchors, usage, at);
}

// TSTInfo ::= SEQUENCE { version INTEGER, policy OBJECT IDENTIFIER,
//   messageImprint SEQUENCE { hashAlgorithm AlgorithmIdentifier, hashedMessage OCTET STRING },
//   serialNumber INTEGER, genTime GeneralizedTime, ... }
std::optional<std::time_t> TimeOfTstInfo(der::Bytes tstInfo, der::Bytes stampedSignature) {
    const auto outer = der::ReadSingle(tstInfo, tag::kSequence);
    if (!outer)
        return std::nullopt;
    Reader reader(outer->value);
    const auto version = reader.Expect(tag::kInteger);
    const auto policy = reader.Expect(tag::kOid);
    const auto imprint = reader.Expect(tag::kSequence);
    const auto serial = reader.Expect(tag::kInteger);
    const auto genTime = reader.Expect(tag::kGeneralizedTime);
    if (!version || !policy || !imprint || !serial || !genTime)
        return std::nullopt;
    Reader imprintReader(imprint->value);
    const auto algorithm = imprintReader.Expect(tag::kSequence);
    const auto hashed = imprintReader.Expect(tag::kOctetString);
    if (!algorithm || !hashed)
        return std::nullopt;
    const EVP_MD* md = DigestForOid(der::AlgorithmOid(*algorithm));
    Der expected;
    if (!md || !Digest(md, stampedSignature, expected) || !SameBytes(expected, hashed->value))
        return std::nullopt;
    return der::ParseTime(*genTime);
}

// The time of a time-stamp on `signer` whose own signature and chain verify (judged at that
// time); nothing when there is none or it does not verify, so the signer is judged now.
std::optional<std::time_t> VerifiedTimeStamp(const SignerInfo& signer,
                                             const std::vector<der::Bytes>& certificates,
                                             X509_STORE* anchors) {
    if (signer.unauthenticatedAttributes.empty())
        return std::nullopt;
    if (const auto token = FindAttributeValue(signer.unauthenticatedAttributes, oid::kRfc3161TimeStamp)) {
        const auto stamp = ParseSignedData(token->whole);
        if (!stamp || stamp->contentType != oid::kTstInfo || stamp->contentTag != tag::kOctetString)
            return std::nullopt;
        const auto time = TimeOfTstInfo(stamp->content, signer.signature);
        if (!time)
            return std::nullopt;
        const SignedContent content{oid::kTstInfo, stamp->content, stamp->certificates};
        if (VerifySigner(stamp->signers.front(), content, anchors, Usage::TimeStamping, time).verdict !=
            Verdict::Trusted)
            return std::nullopt;
        return time;
    }
    if (const auto counter = FindAttributeValue(signer.unauthenticatedAttributes, oid::kCounterSignature)) {
        const auto counterSigner = ParseSignerInfo(*counter);
        if (!counterSigner)
            return std::nullopt;
        const auto signingTime = FindAttributeValue(counterSigner->authenticatedContents, oid::kSigningTime);
        const auto time = signingTime ? der::ParseTime(*signingTime) : std::nullopt;
        if (!time)
            return std::nullopt;
        const SignedContent content{{}, signer.signature, certificates};
        if (VerifySigner(*counterSigner, content, anchors, Usage::TimeStamping, time).verdict !=
            Verdict::Trusted)
            return std::nullopt;
        return time;
    }
    return std::nullopt;
}

} // namespace

const EVP_MD* DigestForOid(std::string_view oid) {
    if (oid == oid::kSha1)
        return EVP_sha1();
    if (oid == oid::kSha256)
        return EVP_sha256();
    if (oid == oid::kSha384)
        return EVP_sha384();
    if (oid == oid::kSha512)
        return EVP_sha512();
    return nullptr;
}

bool IsWeakDigestOid(std::string_view oid) {
    return oid == oid::kMd5 || oid == "1.2.840.113549.2.2"; // MD5, MD2
}

SignatureReport VerifyFirstSigner(const SignedData& signedData, X509_STORE* anchors, Usage usage,
                                  std::optional<std::time_t> at) {
    const SignedContent content{signedData.contentType, signedData.content, signedData.certificates};
    return VerifySigner(signedData.signers.front(), content, anchors, usage, at);
}

SignatureReport VerifyEmbeddedSignature(const HashInput& input, X509_STORE* anchors) {
    SignatureReport report;
    const std::span<const std::uint8_t> file = input.bytes;
    const auto layout = ReadPeLayout(file);
    if (!layout) {
        report.verdict = Verdict::NotAnImage;
        return report;
    }
    const FirstSignature first = FindFirstSignature(file, *layout);
    switch (first.status) {
    case TableStatus::Found:
        break;
    case TableStatus::NoTable:
        report.verdict = Verdict::NoSignature;
        return report;
    case TableStatus::Malformed:
        report.verdict = Verdict::Malformed;
        return report;
    case TableStatus::HiddenData:
        report.verdict = Verdict::HiddenData;
        return report;
    }
    const auto signedData = ParseSignedData(first.signedData);
    if (!signedData || signedData->contentType != oid::kSpcIndirectData ||
        signedData->contentTag != tag::kSequence)
        return report;
    const auto indirect = ParseIndirectData(signedData->content);
    if (!indirect)
        return report;
    if (IsWeakDigestOid(indirect->digestOid)) {
        report.verdict = Verdict::WeakDigest;
        return report;
    }
    const EVP_MD* md = DigestForOid(indirect->digestOid);
    Der imageDigest;
    if (!md || !ComputePeImageHash(input, md, imageDigest))
        return report;
    if (!SameBytes(imageDigest, indirect->digest)) {
        report.verdict = Verdict::BadDigest;
        return report;
    }
    return VerifyFirstSigner(*signedData, anchors, Usage::CodeSigning);
}

std::optional<TrustList> ReadCatalogMembers(std::span<const std::uint8_t> catalog) {
    const auto signedData = ParseSignedData(catalog);
    if (!signedData || signedData->contentType != oid::kCertificateTrustList ||
        signedData->contentTag != tag::kSequence)
        return std::nullopt;
    return ParseTrustList(signedData->content);
}

SignatureReport VerifyCatalogSignature(std::span<const std::uint8_t> catalog, X509_STORE* anchors,
                                       TrustList& list) {
    SignatureReport report;
    const auto signedData = ParseSignedData(catalog);
    if (!signedData || signedData->contentType != oid::kCertificateTrustList ||
        signedData->contentTag != tag::kSequence)
        return report;
    auto members = ParseTrustList(signedData->content);
    if (!members)
        return report;
    report = VerifyFirstSigner(*signedData, anchors, Usage::CatalogSigning);
    if (report.verdict == Verdict::Trusted)
        list = std::move(*members);
    return report;
}

} // namespace velmora::trust
