#include "verify/signer_name.h"

#include <algorithm>
#include <string_view>

#include "verify/result_codes.h"

thread_local WCHAR g_szSignerName[SIGNER_NAME_CAPACITY] = {};

int ExtractSignerName(LPCWSTR pszFormattedName) {
    if (pszFormattedName == nullptr || pszFormattedName[0] == u'\0')
        return VR_NO_SIGNER_NAME;

    // A view serves as the working copy: it is only ever narrowed, never written through.
    const std::u16string_view input(pszFormattedName);
    const std::size_t match = input.find(u"CN=");
    if (match == std::u16string_view::npos)
        return VR_NO_SIGNER_NAME;

    // Nothing ends the name at a comma: attributes after the common name come along.
    std::u16string_view candidate = input.substr(match + 3);

    // Measured before any quote comes off, so an enclosed name of 4133 is refused too.
    if (candidate.size() > static_cast<std::size_t>(SIGNER_NAME_CAPACITY))
        return VR_NAME_TOO_LONG;
    if (candidate.empty())
        return VR_NO_SIGNER_NAME;

    if (candidate.front() == u'"') {
        candidate.remove_prefix(1);
        if (candidate.empty())
            return VR_NO_SIGNER_NAME;
    }
    if (candidate.back() == u'"') {
        candidate.remove_suffix(1);
        if (candidate.empty())
            return VR_NO_SIGNER_NAME;
    }

    // The terminator needs the last unit of the buffer.
    if (candidate.size() >= static_cast<std::size_t>(SIGNER_NAME_CAPACITY))
        return VR_NAME_TOO_LONG;

    std::copy(candidate.begin(), candidate.end(), g_szSignerName);
    g_szSignerName[candidate.size()] = u'\0';
    return VR_OK;
}
