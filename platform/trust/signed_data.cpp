#include "platform/trust/signed_data.h"

#include "platform/trust/oids.h"

namespace velmora::trust {

using der::Reader;
namespace tag = der::tag;

std::optional<SignerInfo> ParseSignerInfo(const der::Element& sequence) {
    if (sequence.tag != tag::kSequence)
        return std::nullopt;
    Reader reader(sequence.value);
    SignerInfo info;
    if (!reader.Expect(tag::kInteger))
        return std::nullopt;
    if (const auto sid = reader.Optional(tag::kSequence)) {
        Reader sidReader(sid->value);
        const auto issuer = sidReader.Expect(tag::kSequence);
        const auto serial = sidReader.Expect(tag::kInteger);
        if (!issuer || !serial)
            return std::nullopt;
        info.issuer = issuer->whole;
        info.serial = serial->value;
    } else if (const auto keyId = reader.Optional(0x80)) {
        info.subjectKeyId = keyId->value;
    } else {
        return std::nullopt;
    }
    const auto digestAlgorithm = reader.Expect(tag::kSequence);
    if (!digestAlgorithm)
        return std::nullopt;
    info.digestOid = der::AlgorithmOid(*digestAlgorithm);
    if (const auto attributes = reader.Optional(tag::kContext0)) {
        info.authenticatedAttributes = attributes->whole;
        info.authenticatedContents = attributes->value;
    }
    const auto encryptionAlgorithm = reader.Expect(tag::kSequence);
    const auto signature = reader.Expect(tag::kOctetString);
    if (!encryptionAlgorithm || !signature || info.digestOid.empty())
        return std::nullopt;
    info.signature = signature->value;
    if (const auto unauthenticated = reader.Optional(tag::kContext1))
        info.unauthenticatedAttributes = unauthenticated->value;
    if (!reader.AtEnd())
        return std::nullopt;
    return info;
}

std::optional<SignedData> ParseSignedData(der::Bytes contentInfo) {
    const auto outer = der::ReadSingle(contentInfo, tag::kSequence);
    if (!outer)
        return std::nullopt;
    Reader info(outer->value);
    const auto type = info.Expect(tag::kOid);
    const auto explicitContent = info.Expect(tag::kContext0);
    if (!type || !explicitContent || der::OidText(type->value) != oid::kSignedData)
        return std::nullopt;
    const auto signedData = der::ReadSingle(explicitContent->value, tag::kSequence);
    if (!signedData)
        return std::nullopt;

    Reader reader(signedData->value);
    SignedData result;
    if (!reader.Expect(tag::kInteger) || !reader.Expect(tag::kSet))
        return std::nullopt;
    const auto encapsulated = reader.Expect(tag::kSequence);
    if (!encapsulated)
        return std::nullopt;
    Reader encapsulatedReader(encapsulated->value);
    const auto contentType = encapsulatedReader.Expect(tag::kOid);
    if (!contentType)
        return std::nullopt;
    result.contentType = der::OidText(contentType->value);
    if (const auto wrapped = encapsulatedReader.Optional(tag::kContext0)) {
        const auto content = der::ReadFront(wrapped->value);
        if (!content || content->whole.size() != wrapped->value.size())
            return std::nullopt;
        result.contentTag = content->tag;
        result.content = content->value;
    }
    if (!encapsulatedReader.AtEnd())
        return std::nullopt;

    if (const auto certificates = reader.Optional(tag::kContext0)) {
        Reader certificateReader(certificates->value);
        while (!certificateReader.AtEnd()) {
            const auto certificate = certificateReader.Next();
            if (!certificate)
                return std::nullopt;
            // Attribute certificates and other choices are not ours to read; skip them.
            if (certificate->tag == tag::kSequence)
                result.certificates.push_back(certificate->whole);
        }
    }
    reader.Optional(tag::kContext1);  // revocation lists: no revocation checks are made
    const auto signerInfos = reader.Expect(tag::kSet);
    if (!signerInfos || !reader.AtEnd())
        return std::nullopt;
    Reader signerReader(signerInfos->value);
    while (!signerReader.AtEnd()) {
        const auto element = signerReader.Next();
        if (!element)
            return std::nullopt;
        auto signer = ParseSignerInfo(*element);
        if (!signer)
            return std::nullopt;
        result.signers.push_back(*signer);
    }
    if (result.signers.empty() || result.content.data() == nullptr)
        return std::nullopt;
    return result;
}

std::optional<der::Element> FindAttributeValue(der::Bytes attributes, std::string_view oid) {
    Reader reader(attributes);
    while (!reader.AtEnd()) {
        const auto attribute = reader.Expect(tag::kSequence);
        if (!attribute)
            return std::nullopt;
        Reader fields(attribute->value);
        const auto type = fields.Expect(tag::kOid);
        const auto values = fields.Expect(tag::kSet);
        if (!type || !values)
            return std::nullopt;
        if (der::OidText(type->value) == oid)
            return der::ReadFront(values->value);
    }
    return std::nullopt;
}

std::optional<IndirectData> ParseIndirectData(der::Bytes contents) {
    Reader reader(contents);
    const auto data = reader.Expect(tag::kSequence);
    const auto digestInfo = reader.Expect(tag::kSequence);
    if (!data || !digestInfo)
        return std::nullopt;
    IndirectData result;
    Reader dataReader(data->value);
    const auto dataType = dataReader.Expect(tag::kOid);
    if (!dataType)
        return std::nullopt;
    result.dataType = der::OidText(dataType->value);
    Reader digestReader(digestInfo->value);
    const auto algorithm = digestReader.Expect(tag::kSequence);
    const auto digest = digestReader.Expect(tag::kOctetString);
    if (!algorithm || !digest)
        return std::nullopt;
    result.digestOid = der::AlgorithmOid(*algorithm);
    result.digest = digest->value;
    if (result.digestOid.empty())
        return std::nullopt;
    return result;
}

}  // namespace velmora::trust
