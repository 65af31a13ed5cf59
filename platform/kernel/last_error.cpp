#include "platform/kernel/win_types.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

extern "C" DWORD GetLastError() { return t_lastError; }
extern "C" void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }
