#include "platform/trust/trust_list.h"

#include "platform/trust/oids.h"
#include "platform/trust/signed_data.h"

namespace velmora::trust {

using der::Reader;
namespace tag = der::tag;

std::optional<TrustList> ParseTrustList(der::Bytes contents) {
    Reader reader(contents);
    reader.Optional(tag::kInteger);
    if (!reader.Expect(tag::kSequence))
        return std::nullopt;
    reader.Optional(tag::kOctetString);
    reader.Optional(tag::kInteger);
    if (!reader.Optional(tag::kUtcTime) && !reader.Optional(tag::kGeneralizedTime))
        return std::nullopt;
    if (!reader.Optional(tag::kUtcTime))
        reader.Optional(tag::kGeneralizedTime);
    const auto algorithm = reader.Expect(tag::kSequence);
    if (!algorithm)
        return std::nullopt;
    TrustList list;
    const std::string listType = der::AlgorithmOid(*algorithm);
    if (listType == oid::kCatalogMemberListV2)
        list.rawTags = true;
    else if (listType != oid::kCatalogMemberListV1)
        return std::nullopt;

    if (const auto subjects = reader.Optional(tag::kSequence)) {
        Reader subjectReader(subjects->value);
        while (!subjectReader.AtEnd()) {
            const auto subject = subjectReader.Expect(tag::kSequence);
            if (!subject)
                return std::nullopt;
            Reader fields(subject->value);
            const auto identifier = fields.Expect(tag::kOctetString);
            if (!identifier)
                return std::nullopt;
            const auto attributes = fields.Optional(tag::kSet);
            if (!attributes)
                continue;
            // The digest the member is listed by: the SpcIndirectDataContent attribute's, never the tag.
            const auto indirect = FindAttributeValue(attributes->value, oid::kSpcIndirectData);
            if (!indirect || indirect->tag != tag::kSequence)
                continue;
            const auto data = ParseIndirectData(indirect->value);
            if (!data)
                continue;
            list.members.push_back({identifier->value, data->digestOid, data->digest});
        }
    }
    if (reader.Failed())
        return std::nullopt;
    return list;
}

std::string MemberTagText(const CatalogMember& member, bool rawTags) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    if (rawTags) {
        for (std::uint8_t b : member.tag) {
            text += kHex[b >> 4];
            text += kHex[b & 15];
        }
        return text;
    }
    // UTF-16LE text, usually with a terminating null.
    for (std::size_t i = 0; i + 1 < member.tag.size(); i += 2) {
        const unsigned unit = member.tag[i] | (member.tag[i + 1] << 8);
        if (unit == 0)
            break;
        if (unit > 0x7F)
            return {};
        char c = static_cast<char>(unit);
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        text += c;
    }
    return text;
}

}  // namespace velmora::trust
