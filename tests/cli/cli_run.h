// Running the real velmora-scan from a test: arguments, standard streams as pipes (or closed, or
// a terminal), a deadline after which the program is killed so that a hang fails the test instead
// of the suite, and the trees the scans walk.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace clitest {

namespace fs = std::filesystem;

struct RunResult {
    std::string out;
    std::string err;
    std::string terminal;
    int exitCode = -1;     // when the program exited
    int signal = 0;        // when a signal ended it
    bool timedOut = false;
};

struct RunOptions {
    bool closeStdout = false;    // start with descriptor 1 closed
    int stdoutFd = -1;           // give the program this descriptor as its output (a terminal)
    int stderrFd = -1;           // likewise for standard error
    // The two descriptors above are handed over: the parent's copies are closed once the program
    // runs. terminalFd (the master side of a terminal given as stdoutFd or stderrFd) is read into
    // RunResult::terminal as the program writes.
    int terminalFd = -1;
    int timeoutSeconds = 120;
    // Called with the child's pid and everything it has written to standard output so far, after
    // each read; returning true closes the reading end of standard output (a reader that leaves).
    std::function<bool(pid_t, const std::string&)> onOutput;
};

// The program beside the test binary (both are built into the same folder).
fs::path ScannerPath();

RunResult RunScanner(const std::vector<std::string>& args, const RunOptions& options = {});

// The lines of a text, without their line feeds.
std::vector<std::string> Lines(const std::string& text);

// Splits a line at tabs.
std::vector<std::string> Fields(const std::string& line);

// A temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

// The generated trust fixtures.
fs::path FixturesFolder();

// Points the program and this process at the fixtures: the test root as an extra anchor, the
// fixtures' Windows folder as WINDIR, and a Wine prefix of our own whose only drive is Z:, the
// root (so no drive of the machine's own prefix leaks into a test).
void UseFixtureEnvironment(const fs::path& prefix);

// Fills folder with count files in nested folders: trusted, untrusted (unsigned and tampered),
// catalogued, trusted without a signer name, non-executables and MZ-only files, in a fixed mix.
void MakeMixedTree(const fs::path& folder, int count);

}  // namespace clitest
