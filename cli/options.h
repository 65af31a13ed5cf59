// The command line of velmora-scan, parsed into what a scan needs. Parsing has no side effects:
// it reads no file and looks at no terminal, so it can be judged on its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::cli {

enum class OutputFormat { Table, Tsv, Json };

struct Options {
    bool allDrives = false;
    bool showPassed = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::optional<OutputFormat> format;  // none: decided by whether standard output is a terminal
    std::optional<int> jobs;             // none: one per processor
    std::vector<std::string> paths;      // as given, Linux or DOS paths
};

constexpr int kMaxJobs = 1024;

struct ParseResult {
    Options options;
    std::string error;  // one line, empty when the command line is good
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The text of --help.
std::string UsageText();

}  // namespace velmora::cli
