// PKCS#7 / CMS SignedData, read in place: every field is a span into the caller's bytes, so the
// authenticated attributes can be verified exactly as the signer encoded them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/trust/der_reader.h"

namespace velmora::trust {

// SignerInfo ::= SEQUENCE {
//   version INTEGER,
//   sid CHOICE { issuerAndSerialNumber SEQUENCE { issuer Name, serialNumber INTEGER },
//                subjectKeyIdentifier [0] IMPLICIT OCTET STRING },
//   digestAlgorithm AlgorithmIdentifier,
//   authenticatedAttributes [0] IMPLICIT SET OF Attribute OPTIONAL,
//   digestEncryptionAlgorithm AlgorithmIdentifier,
//   encryptedDigest OCTET STRING,
//   unauthenticatedAttributes [1] IMPLICIT SET OF Attribute OPTIONAL }
struct SignerInfo {
    der::Bytes issuer;        // the whole Name, when identified by issuer and serial
    der::Bytes serial;        // the serial's contents octets
    der::Bytes subjectKeyId;  // the key identifier's octets, when identified that way
    std::string digestOid;
    der::Bytes authenticatedAttributes;    // the whole [0] element; empty when absent
    der::Bytes authenticatedContents;      // its contents (the attributes)
    der::Bytes signature;                  // encryptedDigest's octets
    der::Bytes unauthenticatedAttributes;  // the contents of [1]; empty when absent
};

// ContentInfo ::= SEQUENCE { contentType OBJECT IDENTIFIER, content [0] EXPLICIT ANY }
// SignedData ::= SEQUENCE {
//   version INTEGER, digestAlgorithms SET OF AlgorithmIdentifier,
//   contentInfo SEQUENCE { contentType OBJECT IDENTIFIER, content [0] EXPLICIT ANY OPTIONAL },
//   certificates [0] IMPLICIT SET OF Certificate OPTIONAL,
//   crls [1] IMPLICIT SET OF CertificateList OPTIONAL,
//   signerInfos SET OF SignerInfo }
struct SignedData {
    std::string contentType;
    std::uint8_t contentTag = 0;
    // The content's value without its outer tag and length: what the messageDigest covers.
    der::Bytes content;
    std::vector<der::Bytes> certificates;  // each whole, as DER
    std::vector<SignerInfo> signers;
};

std::optional<SignedData> ParseSignedData(der::Bytes contentInfo);
std::optional<SignerInfo> ParseSignerInfo(const der::Element& sequence);

// Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET OF ANY }
// The first value of the first attribute of that type in a run of attributes, if any.
std::optional<der::Element> FindAttributeValue(der::Bytes attributes, std::string_view oid);

// SpcIndirectDataContent ::= SEQUENCE {
//   data SEQUENCE { type OBJECT IDENTIFIER, value ANY OPTIONAL },
//   messageDigest DigestInfo ::= SEQUENCE { digestAlgorithm AlgorithmIdentifier, digest OCTET STRING } }
struct IndirectData {
    std::string dataType;
    std::string digestOid;
    der::Bytes digest;
};
// Takes the SEQUENCE's contents.
std::optional<IndirectData> ParseIndirectData(der::Bytes contents);

}  // namespace velmora::trust
