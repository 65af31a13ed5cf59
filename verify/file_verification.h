// Verifying one file: its embedded Authenticode signature first, then, failing that, its entry in
// the first system catalog that lists its hash.
#pragma once

#include "platform/kernel/win_types.h"

// VR_OK (trusted; the signer's common name is in g_szSignerName), VR_NOT_TRUSTED, VR_NOT_READY,
// VR_OPEN_FAILED or VR_NO_SIGNER_NAME. On any result but VR_OK, g_szSignerName is not written.
// Needs a ready binding (BindTrustLibrary); reads it without a lock.
int VerifyFileSignature(LPCWSTR pszFilePath);
