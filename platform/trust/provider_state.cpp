#include "platform/trust/provider_state.h"

#include <algorithm>

#include "platform/trust/der_reader.h"

namespace velmora::trust {
namespace {

namespace tag = der::tag;

FILETIME ToFileTime(std::time_t t) {
    // 100-ns intervals since 1601-01-01.
    const std::uint64_t ticks = (static_cast<std::uint64_t>(t) + 11644473600ULL) * 10000000ULL;
    return {static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}

CRYPT_INTEGER_BLOB Blob(der::Bytes bytes) {
    return {static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
}

}  // namespace

std::unique_ptr<CertificateContext> CertificateContext::FromDer(Der der) {
    std::unique_ptr<CertificateContext> result(new CertificateContext);
    result->m_der = std::move(der);
    // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] EXPLICIT version OPTIONAL,
    //   serialNumber INTEGER, signature AlgorithmIdentifier, issuer Name,
    //   validity SEQUENCE { notBefore Time, notAfter Time }, subject Name, ... }, ... }
    const auto certificate = der::ReadSingle(result->m_der, tag::kSequence);
    if (!certificate)
        return nullptr;
    der::Reader outer(certificate->value);
    const auto tbs = outer.Expect(tag::kSequence);
    if (!tbs)
        return nullptr;
    der::Reader fields(tbs->value);
    DWORD version = 0;
    if (const auto explicitVersion = fields.Optional(tag::kContext0)) {
        const auto value = der::ReadSingle(explicitVersion->value, tag::kInteger);
        if (!value || value->value.size() != 1)
            return nullptr;
        version = value->value[0];
    }
    const auto serial = fields.Expect(tag::kInteger);
    const auto algorithm = fields.Expect(tag::kSequence);
    const auto issuer = fields.Expect(tag::kSequence);
    const auto validity = fields.Expect(tag::kSequence);
    const auto subject = fields.Expect(tag::kSequence);
    if (!serial || !algorithm || !issuer || !validity || !subject)
        return nullptr;
    der::Reader times(validity->value);
    const auto notBefore = times.Next();
    const auto notAfter = times.Next();
    const auto before = notBefore ? der::ParseTime(*notBefore) : std::nullopt;
    const auto after = notAfter ? der::ParseTime(*notAfter) : std::nullopt;

    result->m_algorithm = der::AlgorithmOid(*algorithm);
    // The platform keeps serial numbers least significant byte first.
    result->m_serialLittleEndian.assign(serial->value.rbegin(), serial->value.rend());
    CERT_INFO& info = result->m_info;
    info.dwVersion = version;
    info.SerialNumber = Blob(result->m_serialLittleEndian);
    info.SignatureAlgorithm.pszObjId = result->m_algorithm.data();
    info.Issuer = Blob(issuer->whole);
    info.Subject = Blob(subject->whole);
    info.NotBefore = before ? ToFileTime(*before) : FILETIME{};
    info.NotAfter = after ? ToFileTime(*after) : FILETIME{};
    CERT_CONTEXT& context = result->m_context;
    context.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    context.pbCertEncoded = result->m_der.data();
    context.cbCertEncoded = static_cast<DWORD>(result->m_der.size());
    context.pCertInfo = &result->m_info;
    return result;
}

VerifyState::VerifyState(WINTRUST_DATA* data, LONG status, const SignatureReport& report) {
    for (const Der& der : report.chain) {
        auto certificate = CertificateContext::FromDer(der);
        if (!certificate)
            break;  // the chain stops at the first certificate we cannot lay out
        m_certificates.push_back(std::move(certificate));
    }
    for (const auto& certificate : m_certificates) {
        CRYPT_PROVIDER_CERT entry{};
        entry.cbStruct = sizeof entry;
        entry.pCert = certificate->Context();
        m_chain.push_back(entry);
    }
    if (!m_chain.empty()) {
        m_chain.back().fTrustedRoot = report.verdict == Verdict::Trusted;
        const CERT_INFO* top = m_chain.back().pCert->pCertInfo;
        m_chain.back().fSelfSigned = std::equal(top->Issuer.pbData, top->Issuer.pbData + top->Issuer.cbData,
                                                top->Subject.pbData, top->Subject.pbData + top->Subject.cbData);
    }
    m_signer.cbStruct = sizeof m_signer;
    m_signer.csCertChain = static_cast<DWORD>(m_chain.size());
    m_signer.pasCertChain = m_chain.empty() ? nullptr : m_chain.data();
    m_signer.dwError = static_cast<DWORD>(status);

    m_providerData.cbStruct = sizeof m_providerData;
    m_providerData.pWintrustData = data;
    m_providerData.dwError = static_cast<DWORD>(status);
    // A signer exists once its certificate was found, trusted or not.
    m_providerData.csSigners = m_chain.empty() ? 0 : 1;
    m_providerData.pasSigners = m_chain.empty() ? nullptr : &m_signer;
}

VerifyState* VerifyState::FromHandle(HANDLE handle) {
    auto* state = static_cast<VerifyState*>(handle);
    return state && state->m_magic == kMagic ? state : nullptr;
}

}  // namespace velmora::trust
