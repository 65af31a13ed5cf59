// The scan's shared state and its worker threads. The Scan handler (CQuorlinDlg::OnBnClickedScan)
// starts one worker for the selected mode; Stop and closing end it through g_hScanThread.
#pragma once

#include "platform/kernel/cstring.h"
#include "platform/kernel/win_types.h"

constexpr int SCAN_SYSTEM_DIR = 1;
constexpr int SCAN_ALL_DRIVES = 2;
constexpr int SCAN_FOLDER = 3;

constexpr int SYSTEM_DIR_CAPACITY = 4132;  // UTF-16 units, terminator included

// The worker started by the most recent Scan; null when that Scan started none.
extern HANDLE g_hScanThread;

// The Windows directory, filled by the Scan handler before it starts ScanSystemDirThread.
extern WCHAR g_szSystemDir[SYSTEM_DIR_CAPACITY];

// Worker entry points; the parameter is the CQuorlinDlg. 1 after a completed scan, 0 when the
// start path was empty (then no completion step runs).
DWORD WINAPI ScanSystemDirThread(LPVOID pParam);
DWORD WINAPI ScanAllDrivesThread(LPVOID pParam);
DWORD WINAPI ScanFolderThread(LPVOID pParam);

// Empties g_szSignerName and verifies one file: the verification's result code, or -1 for an
// empty path.
int VerifyOneFile(CString path);
