// The common name of a signer certificate, taken from its subject in the X.500 string form.
#pragma once

#include "platform/kernel/win_types.h"

constexpr int SIGNER_NAME_CAPACITY = 4132; // UTF-16 units, terminator included

// The signer name of the file verified last on this thread; written only by ExtractSignerName,
// and only when it returns VR_OK.
//
// thread_local: the command-line scanner verifies on several threads at once, and each of them
// must read back the name of its own file. The dialog verifies and adds its rows on one worker
// thread, which therefore sees the same single buffer a process-wide array would give it.
extern thread_local WCHAR g_szSignerName[SIGNER_NAME_CAPACITY];

// Stores in g_szSignerName everything after the first "CN=" of pszFormattedName (case-sensitive,
// attributes after the common name included), with one double quote removed at either end.
// VR_OK, VR_NO_SIGNER_NAME or VR_NAME_TOO_LONG; the input is not changed.
int ExtractSignerName(LPCWSTR pszFormattedName);
