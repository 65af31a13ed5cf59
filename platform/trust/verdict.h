// What a signature check concluded. Parsing reports "could not read" through empty optionals;
// this is the separate answer to "read fine: is it trusted, and if not, why".
#pragma once

#include <cstdint>
#include <vector>

namespace velmora::trust {

enum class Verdict {
    Trusted,
    Unreadable,           // the file or catalog could not be opened or mapped
    NotAnImage,           // not a well-formed PE image
    NoSignature,          // no certificate table, or the member is not in the catalog
    Malformed,            // a table or PKCS#7 structure that does not parse as Authenticode
    HiddenData,           // bytes outside the hash hidden in the certificate table
    BadDigest,            // the file or content does not match the signed digest
    WeakDigest,           // MD5 (or MD2) anywhere a digest is trusted
    NoSignerCertificate,  // the signer's certificate is not in the SignedData
    BadSignature,         // the signer's signature over its attributes does not verify
    UntrustedRoot,        // the chain ends in a self-signed certificate that is no anchor
    IncompleteChain,      // the chain cannot be completed to an anchor
    Expired,              // a certificate of the chain is outside its validity at the judged time
    WrongUsage,           // a certificate restricts its usages and code signing is not among them
    BadCertificateSignature,  // a certificate of the chain is not signed by its issuer
};

using Der = std::vector<std::uint8_t>;

// A verdict with the signer's certificate chain as far as it was found: the signer first, then
// its issuers. Empty when the signer could not be identified.
struct SignatureReport {
    Verdict verdict = Verdict::Malformed;
    std::vector<Der> chain;
};

}  // namespace velmora::trust
