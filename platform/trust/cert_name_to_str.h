// Formatting of DER-encoded X.500 names as text, behind CertNameToStrW (declared in wincrypt.h).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/kernel/win_types.h"

namespace velmora::trust {

// Formats a Name (SEQUENCE OF RelativeDistinguishedName) the way CertNameToStrW does for
// dwStrType CERT_SIMPLE_NAME_STR, CERT_OID_NAME_STR or CERT_X500_NAME_STR: the relative names in
// their encoded order separated by ", ", the parts of a multi-valued one joined by " + ", a value
// put in double quotes (inner quotes doubled) when it is empty, starts or ends with white space
// or holds one of , + = " < > # ; or a line break. Values that are not character strings are
// written as '#' and the hex of their encoding. nullopt when the bytes are not a well-formed
// name or the type is not one of the three.
std::optional<std::u16string> FormatName(std::span<const std::uint8_t> der, DWORD strType);

} // namespace velmora::trust
