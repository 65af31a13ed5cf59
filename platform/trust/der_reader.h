// A reader of DER elements over borrowed bytes: every structure the trust library parses is
// walked with it, so a span never outlives the bytes it points into and nothing is copied.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>

namespace velmora::trust::der {

using Bytes = std::span<const std::uint8_t>;

namespace tag {
inline constexpr std::uint8_t kBoolean = 0x01;
inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kBitString = 0x03;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kNull = 0x05;
inline constexpr std::uint8_t kOid = 0x06;
inline constexpr std::uint8_t kUtcTime = 0x17;
inline constexpr std::uint8_t kGeneralizedTime = 0x18;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kSet = 0x31;
inline constexpr std::uint8_t kContext0 = 0xA0;  // [0] constructed
inline constexpr std::uint8_t kContext1 = 0xA1;  // [1] constructed
}  // namespace tag

struct Element {
    std::uint8_t tag = 0;
    Bytes value;  // the contents octets
    Bytes whole;  // tag, length and contents
};

// Reads elements one after another. Only DER's definite lengths and single-byte tags are
// accepted; anything else, or an element running past the bytes, makes the reader fail, and a
// failed reader returns nothing more.
class Reader {
public:
    explicit Reader(Bytes bytes) : m_rest(bytes) {}

    bool AtEnd() const { return m_rest.empty(); }
    bool Failed() const { return m_failed; }
    // The tag of the next element, or 0 at the end.
    std::uint8_t PeekTag() const { return m_rest.empty() || m_failed ? 0 : m_rest[0]; }

    std::optional<Element> Next();
    // The next element, which must carry the tag.
    std::optional<Element> Expect(std::uint8_t tag);
    // The next element if it carries the tag; otherwise nothing is consumed.
    std::optional<Element> Optional(std::uint8_t tag);

private:
    Bytes m_rest;
    bool m_failed = false;
};

// Reads exactly one element that fills the bytes (trailing bytes are an error).
std::optional<Element> ReadSingle(Bytes bytes, std::uint8_t tag);
// Reads one element from the front; the rest is ignored (for padded containers).
std::optional<Element> ReadFront(Bytes bytes);

// The dotted form of an OID's contents octets ("1.2.840.113549.1.7.2"); empty when malformed.
std::string OidText(Bytes oidValue);
// An AlgorithmIdentifier's OID in dotted form; empty when malformed.
std::string AlgorithmOid(const Element& algorithmIdentifier);
// UTCTime or GeneralizedTime (Z form, optional fractions) as seconds since the epoch.
std::optional<std::time_t> ParseTime(const Element& time);

}  // namespace velmora::trust::der
