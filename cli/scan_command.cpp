#include "cli/scan_command.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>

#include "cli/options.h"
#include "cli/ordered_verifier.h"
#include "cli/progress_line.h"
#include "cli/row_output.h"
#include "platform/kernel/dos_paths.h"
#include "platform/kernel/wide_text.h"
#include "platform/shell/special_folders.h"
#include "scan/directory_walk.h"
#include "verify/result_codes.h"
#include "verify/trust_binding.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

namespace velmora::cli {

namespace {

std::atomic<bool> g_bInterrupted{false};

extern "C" void OnInterrupt(int) {
    g_bInterrupted.store(true, std::memory_order_relaxed);
    // A second Ctrl-C ends the program at once, in case the first one is not heard.
    signal(SIGINT, SIG_DFL);
}

void WriteText(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void Complain(const std::string& message) {
    WriteText(STDERR_FILENO, "velmora-scan: " + message + "\n");
}

// Standard output, written row by row so that a reader sees each row when it is found.
class Output {
  public:
    // False once the output cannot take more: a reader that went away (EPIPE) is a clean end,
    // any other failure is reported by Failure().
    bool Write(const std::string& text) {
        std::size_t done = 0;
        while (!m_closed && done < text.size()) {
            ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
            // Ctrl-C while a reader is not reading: the rest cannot be delivered anyway, and
            // waiting for the reader would keep the stop message from coming.
            if (n < 0 && errno == EINTR && g_bInterrupted.load(std::memory_order_relaxed)) {
                m_closed = true;
                break;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                m_closed = true;
                if (errno != EPIPE)
                    m_error = errno;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        return !m_closed;
    }
    bool Closed() const { return m_closed; }
    int Failure() const { return m_error; }

  private:
    bool m_closed = false;
    int m_error = 0;
};

// A place to walk: the path handed to the walk, and the same place on Linux, from which each
// row's Linux path is made.
struct StartPath {
    CString dos;
    std::string linux;
};

bool LooksLikeDosPath(const std::string& path) {
    const bool driveLetter = path.size() >= 2 && path[1] == ':' &&
                             ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return driveLetter || path[0] == '\\';
}

// An absolute Linux path as the user wrote it: "." components and repeated or trailing slashes
// go, nothing is resolved, so rows start with the text that was typed.
std::string AbsoluteLinuxPath(const std::string& path) {
    std::string joined = path;
    if (path[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        joined = std::string(cwd ? cwd : "/") + "/" + path;
        free(cwd);
    }
    std::string out;
    std::size_t i = 0;
    while (i < joined.size()) {
        std::size_t j = joined.find('/', i);
        if (j == std::string::npos)
            j = joined.size();
        std::string part = joined.substr(i, j - i);
        if (!part.empty() && part != ".")
            out += "/" + part;
        i = j + 1;
    }
    return out.empty() ? "/" : out;
}

std::string JoinLinux(const std::string& folder, const std::string& rest) {
    if (rest.empty())
        return folder;
    if (!folder.empty() && folder.back() == '/')
        return folder + rest;
    return folder + "/" + rest;
}

// A start path the scan can read, or a message saying why not.
std::optional<std::string> CheckReadable(const std::string& shown, const StartPath& start) {
    struct stat info {};
    if (stat(start.linux.c_str(), &info) != 0)
        return "cannot read '" + shown + "': " + std::strerror(errno);
    if (S_ISDIR(info.st_mode)) {
        DIR* dir = opendir(start.linux.c_str());
        if (!dir)
            return "cannot read '" + shown + "': " + std::strerror(errno);
        closedir(dir);
        // The walk's search pattern "path\*.*" must stay below MAX_PATH.
        if (start.dos.GetLength() + 4 >= MAX_PATH)
            return "cannot read '" + shown + "': its DOS path " + start.dos.ToUtf8() + " is longer than " +
                   std::to_string(MAX_PATH - 5) + " characters";
        return std::nullopt;
    }
    int fd = open(start.linux.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "cannot read '" + shown + "': " + std::strerror(errno);
    close(fd);
    return std::nullopt;
}

std::optional<StartPath> StartFromArgument(const std::string& argument, std::string& error) {
    StartPath start;
    if (LooksLikeDosPath(argument)) {
        std::u16string dos = Utf8ToUtf16(argument);
        for (auto& c : dos)
            if (c == u'/')
                c = u'\\';
        start.dos = CString(dos);
        auto linux = kernel::DosPathToLinux(dos);
        if (!linux) {
            error = "cannot read '" + argument + "': no such drive";
            return std::nullopt;
        }
        start.linux = *linux;
    } else {
        start.linux = AbsoluteLinuxPath(argument);
        start.dos = kernel::LinuxPathToDos(start.linux);
    }
    if (auto problem = CheckReadable(argument, start)) {
        error = *problem;
        return std::nullopt;
    }
    return start;
}

int DefaultJobs() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

// The walk's sink: counts, progress and the routing of verdicts to rows.
class CommandLineSink final : public ScanSink {
  public:
    CommandLineSink(const Options& options, OutputFormat format, Output& output, ProgressLine& progress)
        : m_options(options), m_format(format), m_output(output), m_progress(progress),
          m_verifier(options.jobs.value_or(1), [this](VerifiedFile& file) { Route(file); }) {}

    void SetStart(const StartPath& start) { m_start = start; }

    bool ShouldStop() override { return g_bInterrupted.load(std::memory_order_relaxed) || m_output.Closed(); }

    void ShowEntry(const CString& fullPath) override {
        if (m_progress.Due())
            m_progress.Draw(m_nFileCount, m_verifier.Verified(), LinuxPathOf(fullPath));
    }

    void CountFile() override { ++m_nFileCount; }

    void OnExecutable(const CString& name, const CString& fullPath) override {
        m_verifier.Submit(name, fullPath);
    }

    // With several jobs the executable test runs on the workers too: in a tree of few executables
    // it is most of the work.
    bool TestsFilesItself() const override { return m_options.jobs.value_or(1) > 1; }
    void OnFile(const CString& name, const CString& fullPath) override {
        m_verifier.SubmitCandidate(name, fullPath);
    }

    void Finish(bool stopped) { m_verifier.Finish(stopped); }

    int FileCount() const { return m_nFileCount; }
    bool AnyListedFailure() const { return m_bListedFailure; }

  private:
    // The routing of the dialog's walk: with the filter set (the default) only VR_NOT_TRUSTED is
    // listed; cleared, VR_OK is listed as a pass too. Every other code is never listed.
    void Route(VerifiedFile& file) {
        ScanRow row;
        row.code = file.code;
        row.passed = file.code == VR_OK;
        row.listed = file.code == VR_NOT_TRUSTED || (m_options.showPassed && file.code == VR_OK);
        if (!row.listed && m_format != OutputFormat::Json)
            return;
        if (row.listed && !row.passed)
            m_bListedFailure = true;
        if (m_output.Closed())
            return;
        row.name = std::move(file.name);
        row.linuxPath = LinuxPathOf(file.fullPath);
        row.dosPath = std::move(file.fullPath);
        row.signer = std::move(file.signer);
        if (m_format == OutputFormat::Table && !m_bHeaderWritten) {
            m_bHeaderWritten = true;
            Write(TableHeader());
        }
        Write(FormatRow(m_format, row));
    }

    void Write(const std::string& text) {
        m_progress.Clear();
        m_output.Write(text);
    }

    // The walk's paths all start with the start path as it was handed over; the Linux path puts
    // the start's Linux form in its place. Anything else is looked up.
    std::string LinuxPathOf(const CString& fullPath) const {
        const std::u16string& full = fullPath.Text();
        const std::u16string& base = m_start.dos.Text();
        if (full.size() >= base.size() && full.compare(0, base.size(), base) == 0) {
            std::u16string rest = full.substr(base.size());
            while (!rest.empty() && rest.front() == u'\\')
                rest.erase(0, 1);
            for (auto& c : rest)
                if (c == u'\\')
                    c = u'/';
            return JoinLinux(m_start.linux, Utf16ToUtf8(rest));
        }
        auto linux = kernel::DosPathToLinux(full);
        return linux ? *linux : fullPath.ToUtf8();
    }

    const Options& m_options;
    const OutputFormat m_format;
    Output& m_output;
    ProgressLine& m_progress;
    OrderedVerifier m_verifier;
    StartPath m_start;
    int m_nFileCount = 0;
    bool m_bListedFailure = false;
    bool m_bHeaderWritten = false;
};

// A standard stream that is closed must not be reused by the first file the scan opens.
bool PrepareStandardStreams() {
    if (fcntl(STDERR_FILENO, F_GETFD) < 0) {
        int fd = open("/dev/null", O_WRONLY);
        if (fd >= 0 && fd != STDERR_FILENO) {
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
    }
    if (fcntl(STDIN_FILENO, F_GETFD) < 0) {
        int fd = open("/dev/null", O_RDONLY);
        if (fd >= 0 && fd != STDIN_FILENO) {
            dup2(fd, STDIN_FILENO);
            close(fd);
        }
    }
    return fcntl(STDOUT_FILENO, F_GETFD) >= 0;
}

std::string BindingFailure(int code) {
    return "the trust library wintrust.dll cannot be used (" + ResultCodeName(code) +
           "); nothing could be verified";
}

} // namespace

int RunScanCommand(const std::vector<std::string>& args) {
    if (!PrepareStandardStreams()) {
        Complain("standard output is closed");
        return kExitUsage;
    }

    ParseResult parsed = ParseCommandLine(args);
    if (!parsed.error.empty()) {
        Complain(parsed.error + " (see velmora-scan --help)");
        return kExitUsage;
    }
    Options options = parsed.options;
    if (options.help) {
        WriteText(STDOUT_FILENO, UsageText());
        return kExitClean;
    }
    if (options.version) {
        WriteText(STDOUT_FILENO, std::string("velmora-scan ") + VELMORA_VERSION + "\n");
        return kExitClean;
    }
    if (!options.jobs)
        options.jobs = DefaultJobs();
    const OutputFormat format =
        options.format.value_or(isatty(STDOUT_FILENO) ? OutputFormat::Table : OutputFormat::Tsv);

    // The places to walk, all checked before anything is walked.
    std::vector<StartPath> starts;
    if (!options.paths.empty()) {
        for (const auto& argument : options.paths) {
            std::string error;
            auto start = StartFromArgument(argument, error);
            if (!start) {
                Complain(error);
                return kExitUsage;
            }
            starts.push_back(std::move(*start));
        }
    } else if (!options.allDrives) {
        WCHAR windows[MAX_PATH] = {};
        if (!SHGetSpecialFolderPathW(nullptr, windows, CSIDL_WINDOWS, FALSE)) {
            Complain("the Windows directory cannot be found: set WINDIR, or give a PATH");
            return kExitUsage;
        }
        StartPath start{CString(windows), {}};
        auto linux = kernel::DosPathToLinux(start.dos.Text());
        start.linux = linux ? *linux : start.dos.ToUtf8();
        if (auto problem = CheckReadable(start.dos.ToUtf8(), start)) {
            Complain(*problem);
            return kExitUsage;
        }
        starts.push_back(std::move(start));
    }

    signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);

    if (int bound = BindTrustLibrary(); bound != VR_OK) {
        Complain(BindingFailure(bound));
        UnbindTrustLibrary();
        return kExitUsage;
    }

    Output output;
    ProgressLine progress(!options.quiet && isatty(STDERR_FILENO), STDERR_FILENO);
    int fileCount = 0;
    bool listedFailure = false;
    {
        CommandLineSink sink(options, format, output, progress);
        DirectoryWalk walk(sink);
        if (options.allDrives) {
            // The dialog's second mode: B: to Z: in letter order, never A:, no absent drive and no
            // CD-ROM drive.
            for (WCHAR letter = u'B'; letter <= u'Z' && !walk.Stopped(); ++letter) {
                CString root;
                root.Format(u"%c:\\", letter);
                UINT type = GetDriveTypeW(root);
                if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_CDROM)
                    continue;
                auto folder = kernel::DriveFolder(letter);
                sink.SetStart(StartPath{root, folder ? *folder : "/"});
                walk.Walk(root);
            }
        } else {
            for (const auto& start : starts) {
                sink.SetStart(start);
                walk.Walk(start.dos);
            }
        }
        sink.Finish(walk.Stopped());
        fileCount = sink.FileCount();
        listedFailure = sink.AnyListedFailure();
    }
    progress.Clear();
    UnbindTrustLibrary();

    if (g_bInterrupted.load()) {
        CString message;
        message.Format(u"扫描被停止！扫描%d个文件。", fileCount);
        WriteText(STDERR_FILENO, message.ToUtf8() + "\n");
        return kExitInterrupted;
    }
    if (output.Failure() != 0) {
        Complain(std::string("cannot write the rows: ") + std::strerror(output.Failure()));
        return kExitUsage;
    }
    if (!options.quiet && !output.Closed()) {
        CString message;
        message.Format(u"扫描完成！共扫描%d个文件。", fileCount);
        WriteText(STDERR_FILENO, message.ToUtf8() + "\n");
    }
    return listedFailure ? kExitFailures : kExitClean;
}

} // namespace velmora::cli
