// CertNameToStrW over arbitrary bytes: whatever the name, it must not crash, leak or write past
// the buffer it is given, and what it writes must be terminated.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/trust/wincrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<BYTE> copy(data, data + size);
    CERT_NAME_BLOB blob{static_cast<DWORD>(copy.size()), copy.empty() ? nullptr : copy.data()};
    const DWORD needed = CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0);
    if (needed == 0)
        std::abort();
    // Exactly sized heap buffers, so that the address sanitizer sees one unit too many.
    for (DWORD csz : {needed, needed > 1 ? needed - 1 : 1u, 1u}) {
        auto buffer = std::make_unique<WCHAR[]>(csz);
        const DWORD n = CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer.get(), csz);
        if (n == 0 || n > csz || buffer[n - 1] != u'\0')
            std::abort();
    }
    for (DWORD type : {CERT_SIMPLE_NAME_STR, CERT_OID_NAME_STR}) {
        auto buffer = std::make_unique<WCHAR[]>(64);
        CertNameToStrW(X509_ASN_ENCODING, &blob, type, buffer.get(), 64);
    }
    return 0;
}
