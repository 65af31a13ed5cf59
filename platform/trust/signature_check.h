// Authenticode verification over borrowed bytes: image digest, signer signature over the
// attributes as encoded, time-stamps, and the chain to the anchors of a store.
#pragma once

#include <ctime>
#include <optional>
#include <span>
#include <string_view>

#include <openssl/x509.h>

#include "platform/trust/pe_image_hash.h"
#include "platform/trust/signed_data.h"
#include "platform/trust/trust_list.h"
#include "platform/trust/verdict.h"

namespace velmora::trust {

// The digest an AlgorithmIdentifier names; null for MD5 and anything unknown.
const EVP_MD* DigestForOid(std::string_view oid);
bool IsWeakDigestOid(std::string_view oid);

// What the chain must be allowed to do. Catalogs of system files are signed for code signing or
// for system component verification.
enum class Usage { CodeSigning, CatalogSigning, TimeStamping };

// Verifies the first signer of `signedData` over its content: the content-type and message-digest
// attributes, the signature over the attributes as the file encodes them, then the chain. `at`
// judges validity at that time (else now); a code-signing signer's own time-stamp moves it.
SignatureReport VerifyFirstSigner(const SignedData& signedData, X509_STORE* anchors, Usage usage,
                                  std::optional<std::time_t> at = std::nullopt);

// The embedded signature of a PE file.
SignatureReport VerifyEmbeddedSignature(const HashInput& file, X509_STORE* anchors);
inline SignatureReport VerifyEmbeddedSignature(std::span<const std::uint8_t> file, X509_STORE* anchors) {
    return VerifyEmbeddedSignature(HashInput{file}, anchors);
}

// A catalog's own signature; on success `list` holds its members.
SignatureReport VerifyCatalogSignature(std::span<const std::uint8_t> catalog, X509_STORE* anchors,
                                       TrustList& list);

// Reads a catalog's member list without checking its signature (for the look-up index).
std::optional<TrustList> ReadCatalogMembers(std::span<const std::uint8_t> catalog);

} // namespace velmora::trust
