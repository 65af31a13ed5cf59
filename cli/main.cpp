// velmora-scan: the scan of the dialog, on the command line.
#include <string>
#include <vector>

#include "cli/scan_command.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return velmora::cli::RunScanCommand(args);
}
