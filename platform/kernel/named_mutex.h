// Named mutexes, for the single-instance guard.
//
// A name is a per-user lock file in $XDG_RUNTIME_DIR (else /tmp/velmora-<uid>), held with flock.
// The system drops the lock when the last descriptor goes, so the guard lasts while any handle
// is open, ends with the process (a crashed instance never blocks the next one), and a start
// under another user is not refused. Creating a name that is already held, in this process or
// another one, succeeds with ERROR_ALREADY_EXISTS, as the platform does.
#pragma once

#include "platform/kernel/win_types.h"

// lpMutexAttributes and bInitialOwner are accepted and have no further effect: nothing here waits
// on a mutex. A null name makes an unnamed mutex.
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName);
