// The rows velmora-scan writes, and the three ways of writing them. Every field is escaped so
// that nothing found on disk or in a certificate (a tab or a line feed in a file name, a terminal
// control sequence in a signer's name) can forge a row or reach the terminal as a command.
#pragma once

#include <string>
#include <string_view>

#include "cli/options.h"
#include "platform/kernel/cstring.h"

namespace velmora::cli {

// One verified executable, as the walk met it.
struct ScanRow {
    CString name;           // the entry's own name
    CString dosPath;        // the full path as the walk built it
    std::string linuxPath;  // the same file on Linux
    int code = 0;           // the verification's result code
    std::u16string signer;  // the signer name the verification left, possibly empty
    bool listed = false;    // routed to the result list
    bool passed = false;    // listed as "通过" (only VR_OK is)
};

// The VR_ name of a result code ("VR_NOT_TRUSTED"), or its value in hexadecimal for a code no
// name belongs to.
std::string ResultCodeName(int code);

// One line, terminated by a line feed. Table rows come after TableHeader().
std::string FormatTsvRow(const ScanRow& row);
std::string FormatJsonRow(const ScanRow& row);
std::string TableHeader();
std::string FormatTableRow(const ScanRow& row);

std::string FormatRow(OutputFormat format, const ScanRow& row);

// Field escapes, exposed for the progress line: bytes as they are but for backslash and the
// control characters (\\, \t, \n, \r, \xHH). For the terminal, invalid UTF-8 and the C1
// controls are written as \xHH as well.
std::string EscapeField(std::string_view utf8, bool forTerminal);

// Columns a UTF-8 text takes on a terminal (wide East Asian characters count two).
std::size_t DisplayWidth(std::string_view utf8);

}  // namespace velmora::cli
