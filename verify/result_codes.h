// Result codes of the verification subsystem. Every operation returns one of these as a plain
// signed int: zero for success, one of ten consecutive failure values otherwise.
#pragma once

constexpr int VR_OK = 0;
constexpr int VR_NOT_TRUSTED = 0xE001;    // no trusted embedded signature and no trusted catalog entry
constexpr int VR_LOAD_FAILED = 0xE002;    // the trust library cannot be loaded
constexpr int VR_RESOLVE_FAILED = 0xE003; // at least one of the ten entry points is missing
constexpr int VR_CONTEXT_FAILED = 0xE004; // the catalog administrator context cannot be acquired
constexpr int VR_RELEASE_FAILED = 0xE005; // the catalog administrator context cannot be released
constexpr int VR_UNLOAD_FAILED = 0xE006;  // the trust library cannot be freed
constexpr int VR_NOT_READY = 0xE007;      // verification asked for while the binding is incomplete
constexpr int VR_OPEN_FAILED = 0xE008;    // embedded check failed and the file cannot be read for hashing
constexpr int VR_NO_SIGNER_NAME = 0xE009; // trusted, but no signer common name can be obtained
constexpr int VR_NAME_TOO_LONG = 0xE00A;  // the signer name does not fit g_szSignerName
