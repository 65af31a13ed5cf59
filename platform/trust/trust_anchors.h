// The trust anchors every verification chains to: OpenSSL's default store (so SSL_CERT_FILE and
// SSL_CERT_DIR apply), the public code-signing roots built into this library, and every
// certificate in the files or folders of VELMORA_TRUST_ANCHORS (colon-separated). Any certificate
// of the store is an anchor, an intermediate too.
#pragma once

#include <openssl/x509.h>

namespace velmora::trust {

// Built once per process, on first use; shared by every verification (read only after that).
X509_STORE* TrustAnchors();

}  // namespace velmora::trust
