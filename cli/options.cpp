#include "cli/options.h"

#include <charconv>

namespace velmora::cli {

namespace {

bool ParseJobs(const std::string& text, int& jobs) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || stop != end || value < 1 || value > kMaxJobs)
        return false;
    jobs = value;
    return true;
}

std::optional<OutputFormat> ParseFormat(const std::string& text) {
    if (text == "table")
        return OutputFormat::Table;
    if (text == "tsv")
        return OutputFormat::Tsv;
    if (text == "json")
        return OutputFormat::Json;
    return std::nullopt;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    ParseResult result;
    Options& options = result.options;
    auto fail = [&result](std::string message) {
        result.error = std::move(message);
        return result;
    };

    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options.paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }

        // "--name=value" and "--name value" are the same.
        std::string name = arg;
        std::optional<std::string> value;
        if (auto equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value)
                return value;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        auto noValue = [&]() { return !value.has_value(); };

        if ((name == "--all-drives") && noValue()) {
            options.allDrives = true;
        } else if (name == "--show-passed" && noValue()) {
            options.showPassed = true;
        } else if ((name == "--quiet" || name == "-q") && noValue()) {
            options.quiet = true;
        } else if ((name == "--help" || name == "-h") && noValue()) {
            options.help = true;
        } else if ((name == "--version" || name == "-V") && noValue()) {
            options.version = true;
        } else if (name == "--format") {
            auto text = takeValue();
            if (!text)
                return fail("--format needs a value: table, tsv or json");
            options.format = ParseFormat(*text);
            if (!options.format)
                return fail("--format takes table, tsv or json, not '" + *text + "'");
        } else if (name == "--jobs" || name == "-j") {
            auto text = takeValue();
            int jobs = 0;
            if (!text)
                return fail("--jobs needs a number");
            if (!ParseJobs(*text, jobs))
                return fail("--jobs takes a whole number from 1 to " + std::to_string(kMaxJobs) + ", not '" +
                            *text + "'");
            options.jobs = jobs;
        } else if (value && (name == "--all-drives" || name == "--show-passed" || name == "--quiet" ||
                             name == "--help" || name == "--version")) {
            return fail(name + " takes no value");
        } else {
            return fail("unknown option '" + arg + "'");
        }
    }

    if (options.allDrives && !options.paths.empty())
        return fail("--all-drives scans every drive and takes no PATH");
    for (const auto& path : options.paths)
        if (path.empty())
            return fail("an empty PATH names nothing");
    return result;
}

std::string UsageText() {
    return R"(Usage: velmora-scan [OPTIONS] [PATH ...]

Walks a place on disk, recognises portable executables by their headers, verifies their
Authenticode signatures (embedded, else through a system catalog) and lists the ones that fail.

Where to look:
  (no PATH)          the Windows directory
  --all-drives       every drive B: to Z: that exists and is not a CD-ROM drive
  PATH ...           each folder or file given; a Linux path (/mnt/disk) or a DOS path (D:\Tools)

Options:
  --show-passed      list the files that pass as well; by default only failures are listed
  --format F         table (the default on a terminal), tsv (the default otherwise) or json
  --jobs N, -j N     verify N files at once (default: one per processor); the rows keep the
                     order of the walk whatever N is
  --quiet, -q        no progress line and no closing message on standard error
  --help, -h         this text
  --version, -V      the version

Output (standard output):
  tsv    one row per listed file: name, verdict (通过 or 未通过), signer, Linux path, separated
         by tabs, no header. A backslash, tab, line feed, carriage return or other control
         character inside a field is written as \\, \t, \n, \r or \xHH.
  json   one object per line for every verified executable, listed or not: name, verdict
         (pass for VR_OK, else fail), signer, path, dos_path (the path the walk used), code
         (the verification's result: VR_OK, VR_NOT_TRUSTED, VR_OPEN_FAILED, VR_NO_SIGNER_NAME,
         ...) and listed (whether the row is in the list: VR_NOT_TRUSTED always, VR_OK with
         --show-passed, any other code never).
  table  the rows of tsv, lined up under a header, for reading.
On a terminal a progress line on standard error shows the files visited, the executables
verified, files per second and the current path. At the end standard error reads
"扫描完成！共扫描N个文件。" with the number of files visited.

Trust:
  The signatures are judged against the system's certificate store (SSL_CERT_FILE and
  SSL_CERT_DIR apply), the public code-signing roots built into the trust library, and every
  certificate in the files or folders listed in VELMORA_TRUST_ANCHORS (separated by colons).
  Catalogs are read from <Windows directory>\System32\CatRoot\{F750E6C3-38EE-11D1-85E5-00C04FC295EE};
  the Windows directory is WINDIR (a DOS or Linux path) when set, else C:\windows.
  Drive letters come from $WINEPREFIX/dosdevices (default ~/.wine/dosdevices); without it the
  only drive is Z:, the root /.

Exit status:
  0    no listed file failed
  1    at least one listed file failed
  2    a usage error, a start path that cannot be read, or a trust library that cannot be loaded
  130  interrupted (Ctrl-C): the rows found so far are written, then "扫描被停止！扫描N个文件。"
)";
}

}  // namespace velmora::cli
