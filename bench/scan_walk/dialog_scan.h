// Drives the real main dialog, offscreen, through folder scans for the benchmark.
#pragma once

#include <string>

#include "platform/kernel/cstring.h"

struct DialogScanResult {
    int files = 0;
    int rows = 0;
};

// Starts the window system and the main dialog (the trust library bound, the fixture root
// trusted). False when the dialog cannot start.
bool StartDialogForScans(int argc, char** argv, const std::string& fixtures);
// One folder scan with the filter clear, from the Scan click to the worker's return.
DialogScanResult RunDialogScan(const CString& folder);
void StopDialogForScans();
