#include "platform/trust/der_reader.h"

namespace velmora::trust::der {

std::optional<Element> Reader::Next() {
    if (m_failed || m_rest.size() < 2) {
        m_failed = true;
        return std::nullopt;
    }
    const std::uint8_t tagByte = m_rest[0];
    // High tag numbers (low five bits all set) never occur in what we read.
    if ((tagByte & 0x1F) == 0x1F) {
        m_failed = true;
        return std::nullopt;
    }
    std::size_t length = m_rest[1];
    std::size_t header = 2;
    if (length & 0x80) {
        const std::size_t count = length & 0x7F;
        // 0x80 is BER's indefinite length; more than 4 length bytes is never sane here.
        if (count == 0 || count > 4 || m_rest.size() < 2 + count) {
            m_failed = true;
            return std::nullopt;
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | m_rest[2 + i];
        header += count;
    }
    if (length > m_rest.size() - header) {
        m_failed = true;
        return std::nullopt;
    }
    Element element{tagByte, m_rest.subspan(header, length), m_rest.first(header + length)};
    m_rest = m_rest.subspan(header + length);
    return element;
}

std::optional<Element> Reader::Expect(std::uint8_t tag) {
    if (PeekTag() != tag) {
        m_failed = true;
        return std::nullopt;
    }
    return Next();
}

std::optional<Element> Reader::Optional(std::uint8_t tag) {
    if (m_failed || m_rest.empty() || m_rest[0] != tag)
        return std::nullopt;
    return Next();
}

std::optional<Element> ReadSingle(Bytes bytes, std::uint8_t tag) {
    Reader reader(bytes);
    auto element = reader.Expect(tag);
    if (!element || !reader.AtEnd())
        return std::nullopt;
    return element;
}

std::optional<Element> ReadFront(Bytes bytes) {
    Reader reader(bytes);
    return reader.Next();
}

std::string OidText(Bytes oid) {
    if (oid.empty() || (oid.back() & 0x80))
        return {};
    std::string text;
    std::uint64_t value = 0;
    bool first = true;
    for (std::size_t i = 0; i < oid.size(); ++i) {
        if (value > (UINT64_MAX >> 7))
            return {};
        value = (value << 7) | (oid[i] & 0x7F);
        if (oid[i] & 0x80)
            continue;
        if (first) {
            const std::uint64_t head = value < 80 ? value / 40 : 2;
            text = std::to_string(head) + "." + std::to_string(value - head * 40);
            first = false;
        } else {
            text += "." + std::to_string(value);
        }
        value = 0;
    }
    return text;
}

std::string AlgorithmOid(const Element& algorithmIdentifier) {
    if (algorithmIdentifier.tag != tag::kSequence)
        return {};
    Reader reader(algorithmIdentifier.value);
    const auto oid = reader.Expect(tag::kOid);
    return oid ? OidText(oid->value) : std::string();
}

std::optional<std::time_t> ParseTime(const Element& time) {
    const Bytes v = time.value;
    std::size_t pos = 0;
    auto digits = [&](std::size_t count) -> std::optional<int> {
        if (pos + count > v.size())
            return std::nullopt;
        int n = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (v[pos + i] < '0' || v[pos + i] > '9')
                return std::nullopt;
            n = n * 10 + (v[pos + i] - '0');
        }
        pos += count;
        return n;
    };
    std::optional<int> year;
    if (time.tag == tag::kUtcTime) {
        year = digits(2);
        if (year)
            *year += *year < 50 ? 2000 : 1900;
    } else if (time.tag == tag::kGeneralizedTime) {
        year = digits(4);
    } else {
        return std::nullopt;
    }
    const auto month = digits(2), day = digits(2), hour = digits(2), minute = digits(2), second = digits(2);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    if (time.tag == tag::kGeneralizedTime && pos < v.size() && v[pos] == '.') {
        ++pos;
        while (pos < v.size() && v[pos] >= '0' && v[pos] <= '9')
            ++pos;
    }
    if (pos + 1 != v.size() || v[pos] != 'Z')
        return std::nullopt;
    if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = *year - 1900;
    tm.tm_mon = *month - 1;
    tm.tm_mday = *day;
    tm.tm_hour = *hour;
    tm.tm_min = *minute;
    tm.tm_sec = *second;
    return timegm(&tm);
}

}  // namespace velmora::trust::der
