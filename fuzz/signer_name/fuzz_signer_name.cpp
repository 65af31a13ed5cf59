// The signer name comes from a certificate in the file being verified, so it is outside input.
// Each input is tried two ways: as a formatted name (UTF-8 text, turned into UTF-16 the way the
// layer turns any bytes), and as the DER subject that the formatter turns into such a name, the
// way the verification gets it. Neither may crash, read past its input or store a name that does
// not fit.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/kernel/wide_text.h"
#include "platform/trust/wincrypt.h"
#include "verify/result_codes.h"
#include "verify/signer_name.h"

namespace {

void Check(LPCWSTR formatted) {
    g_szSignerName[0] = u'\0';
    const int result = ExtractSignerName(formatted);
    if (result != VR_OK && result != VR_NO_SIGNER_NAME && result != VR_NAME_TOO_LONG)
        std::abort();
    const std::size_t stored = WideLength(g_szSignerName);
    if (result == VR_OK ? stored == 0 : stored != 0)
        std::abort(); // a name on success, nothing written on failure
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    Check(text.c_str());

    std::u16string formatted(4096, u'\0');
    CERT_NAME_BLOB blob{static_cast<DWORD>(size), const_cast<BYTE*>(data)};
    CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, formatted.data(), 4096);
    formatted[4095] = u'\0';
    Check(formatted.c_str());
    return 0;
}
