#include "platform/trust/certificate_table.h"

#include <algorithm>

namespace velmora::trust {
namespace {

constexpr std::uint16_t kRevision2 = 0x0200;
constexpr std::uint16_t kTypePkcsSignedData = 0x0002;
constexpr std::size_t kHeaderSize = 8;

std::size_t AlignUp8(std::size_t n) {
    return (n + 7) & ~std::size_t{7};
}

bool AllZero(der::Bytes bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

FirstSignature FindFirstSignature(std::span<const std::uint8_t> file, const PeLayout& layout) {
    FirstSignature result;
    if (layout.certificateTableSize == 0)
        return result;
    const der::Bytes table = file.subspan(layout.certificateTableOffset, layout.certificateTableSize);
    std::size_t pos = 0;
    bool first = true;
    while (pos < table.size()) {
        if (table.size() - pos < kHeaderSize)
            return {first ? TableStatus::Malformed : TableStatus::HiddenData, {}};
        const std::size_t length = static_cast<std::size_t>(table[pos]) | (table[pos + 1] << 8) |
                                   (table[pos + 2] << 16) | (static_cast<std::size_t>(table[pos + 3]) << 24);
        const std::uint16_t revision = static_cast<std::uint16_t>(table[pos + 4] | (table[pos + 5] << 8));
        const std::uint16_t type = static_cast<std::uint16_t>(table[pos + 6] | (table[pos + 7] << 8));
        if (length < kHeaderSize || length > table.size() - pos)
            return {first ? TableStatus::Malformed : TableStatus::HiddenData, {}};
        if (first && (revision != kRevision2 || type != kTypePkcsSignedData))
            return {TableStatus::Malformed, {}};

        const der::Bytes content = table.subspan(pos + kHeaderSize, length - kHeaderSize);
        const std::size_t next = std::min(AlignUp8(pos + length), table.size());
        std::size_t usedEnd = pos + length;  // table offset where the entry's real data ends
        if (type == kTypePkcsSignedData) {
            const auto element = der::ReadFront(content);
            if (!element || element->tag != der::tag::kSequence)
                return {first ? TableStatus::Malformed : TableStatus::HiddenData, {}};
            usedEnd = pos + kHeaderSize + element->whole.size();
            if (first)
                result.signedData = element->whole;
        }
        // What follows the real data up to the next entry may only be zero padding, shorter than 8.
        if (next - usedEnd >= 8 || !AllZero(table.subspan(usedEnd, next - usedEnd)))
            return {TableStatus::HiddenData, {}};
        first = false;
        pos = next;
    }
    result.status = TableStatus::Found;
    return result;
}

}  // namespace velmora::trust
