// velmora-scan from its arguments to its exit status: the dialog's walk and verification, the
// dialog's routing of verdicts to rows, and rows written to standard output instead of a list.
#pragma once

#include <string>
#include <vector>

namespace velmora::cli {

constexpr int kExitClean = 0;        // no listed file failed
constexpr int kExitFailures = 1;     // at least one listed file failed
constexpr int kExitUsage = 2;        // bad command line, unreadable start path, no trust library
constexpr int kExitInterrupted = 130;

int RunScanCommand(const std::vector<std::string>& args);

}  // namespace velmora::cli
