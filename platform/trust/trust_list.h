// The certificate trust list a catalog signs: which member files it vouches for, by hash.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/trust/der_reader.h"

namespace velmora::trust {

struct CatalogMember {
    der::Bytes tag;         // subjectIdentifier: UTF-16LE hex text (version 1) or the raw digest (version 2)
    std::string digestOid;  // from the member's SpcIndirectDataContent
    der::Bytes digest;
};

struct TrustList {
    bool rawTags = false;  // version 2 member list: tags are the raw digest
    std::vector<CatalogMember> members;  // only members that carry an SpcIndirectDataContent
};

// CertificateTrustList ::= SEQUENCE {
//   version INTEGER OPTIONAL, subjectUsage SEQUENCE OF OBJECT IDENTIFIER,
//   listIdentifier OCTET STRING OPTIONAL, sequenceNumber INTEGER OPTIONAL,
//   thisUpdate Time, nextUpdate Time OPTIONAL,
//   subjectAlgorithm AlgorithmIdentifier,       -- the member list type
//   trustedSubjects SEQUENCE OF SEQUENCE {
//     subjectIdentifier OCTET STRING, subjectAttributes SET OF Attribute OPTIONAL } OPTIONAL,
//   extensions [0] EXPLICIT Extensions OPTIONAL }
// Takes the SEQUENCE's contents.
std::optional<TrustList> ParseTrustList(der::Bytes contents);

// The member tag as upper-case hex text, whichever form the list stores it in.
std::string MemberTagText(const CatalogMember& member, bool rawTags);

}  // namespace velmora::trust
