#include "tests/cli/cli_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace clitest {

fs::path ScannerPath() { return fs::read_symlink("/proc/self/exe").parent_path() / "velmora-scan"; }

fs::path FixturesFolder() { return VELMORA_FIXTURES_DIR; }

void UseFixtureEnvironment(const fs::path& prefix) {
    fs::create_directories(prefix / "dosdevices");
    std::error_code ignored;
    fs::create_directory_symlink("/", prefix / "dosdevices" / "z:", ignored);
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("VELMORA_TRUST_ANCHORS", (FixturesFolder() / "pki" / "root-ca.pem").c_str(), 1);
    setenv("WINDIR", (FixturesFolder() / "windows").c_str(), 1);
}

RunResult RunScanner(const std::vector<std::string>& args, const RunOptions& options) {
    RunResult result;
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        return result;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.closeStdout)
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    else
        posix_spawn_file_actions_adddup2(&actions, options.stdoutFd >= 0 ? options.stdoutFd : outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, options.stderrFd >= 0 ? options.stderrFd : errPipe[1], STDERR_FILENO);

    const std::string program = ScannerPath().string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (options.stdoutFd >= 0)
        close(options.stdoutFd);
    if (options.stderrFd >= 0 && options.stderrFd != options.stdoutFd)
        close(options.stderrFd);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    int outFd = outPipe[0];
    int errFd = errPipe[0];
    int termFd = options.terminalFd;
    while (outFd >= 0 || errFd >= 0 || termFd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        std::array<pollfd, 3> fds{pollfd{outFd, POLLIN, 0}, pollfd{errFd, POLLIN, 0}, pollfd{termFd, POLLIN, 0}};
        if (poll(fds.data(), fds.size(), static_cast<int>(std::min<long>(left.count(), 1000))) < 0)
            continue;
        char buffer[65536];
        for (int k = 0; k < 3; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            int& fd = k == 0 ? outFd : k == 1 ? errFd : termFd;
            if (n <= 0) {
                // A terminal's master side reads EIO once the program and its streams are gone;
                // it is the caller's to close.
                if (k != 2)
                    close(fd);
                fd = -1;
                continue;
            }
            (k == 0 ? result.out : k == 1 ? result.err : result.terminal).append(buffer, static_cast<std::size_t>(n));
            if (k == 0 && options.onOutput && options.onOutput(pid, result.out)) {
                close(outFd);
                outFd = -1;
            }
        }
    }
    if (outFd >= 0)
        close(outFd);
    if (errFd >= 0)
        close(errFd);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = line.find('\t', start);
        fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "velmora-cli-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    m_path = mkdtemp(name.data());
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    // Folders a test made unreadable must be opened again before they can be removed.
    for (auto it = fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_path, ignored);
}

void MakeMixedTree(const fs::path& folder, int count) {
    // Each kind of file once per round, so any count holds every kind in a fixed order.
    static const std::vector<std::string> kFixtures = {
        "signed-pe32-sha256.exe", "unsigned-pe32.exe",   "tampered-section-1.exe",  "catalogued.exe",
        "signed-sha1.exe",        "signed-no-cn.exe",    "signed-untrusted-root.exe", "catalogued.dll",
        "tampered-digest.exe",    "signed-no-eku.exe",   "", "mz-only"};
    const fs::path pe = FixturesFolder() / "pe";
    for (int i = 0; i < count; ++i) {
        const std::string& kind = kFixtures[static_cast<std::size_t>(i) % kFixtures.size()];
        const fs::path dir = folder / ("d" + std::to_string(i / 40)) / ("s" + std::to_string(i / 10 % 4));
        fs::create_directories(dir);
        const fs::path target = dir / ("f" + std::to_string(i) + (kind.empty() ? ".txt" : kind == "mz-only" ? ".com" : ".exe"));
        if (kind.empty()) {
            std::ofstream(target) << "not an executable " << i << "\n";
        } else if (kind == "mz-only") {
            std::string bytes(512, ' ');
            bytes[0] = 'M';
            bytes[1] = 'Z';
            std::ofstream(target, std::ios::binary) << bytes;
        } else {
            fs::copy_file(pe / kind, target, fs::copy_options::overwrite_existing);
        }
    }
}

}  // namespace clitest
