// Arbitrary bytes as a PE image (table walk, SignedData, SpcIndirectDataContent, image hash,
// signer and chain checks against an empty store) and as a catalog. Nothing may crash, leak or
// come out trusted: with no anchors, no input can be.
#include <cstdint>
#include <cstdlib>
#include <span>

#include <openssl/x509.h>

#include "platform/trust/certificate_table.h"
#include "platform/trust/signature_check.h"
#include "platform/trust/signed_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmora::trust;
    static X509_STORE* const kNoAnchors = X509_STORE_new();
    const std::span<const std::uint8_t> bytes(data, size);

    if (const auto layout = ReadPeLayout(bytes)) {
        const FirstSignature first = FindFirstSignature(bytes, *layout);
        if (first.status == TableStatus::Found)
            ParseSignedData(first.signedData);
    }
    if (VerifyEmbeddedSignature(bytes, kNoAnchors).verdict == Verdict::Trusted)
        std::abort();

    // The same bytes as a bare SignedData and as a catalog.
    if (const auto signedData = ParseSignedData(bytes)) {
        if (VerifyFirstSigner(*signedData, kNoAnchors, Usage::CodeSigning).verdict == Verdict::Trusted)
            std::abort();
    }
    ReadCatalogMembers(bytes);
    TrustList list;
    if (VerifyCatalogSignature(bytes, kNoAnchors, list).verdict == Verdict::Trusted)
        std::abort();
    ComputeCatalogHash(bytes, EVP_sha1());
    return 0;
}
