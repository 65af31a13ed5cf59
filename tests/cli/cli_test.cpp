// velmora-scan run as a program: exit statuses, bad command lines and start paths, path forms,
// escaping, parallel verification against one job, interrupts, a reader that leaves, drives,
// the Windows directory and the progress line on a terminal.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>

#include "tests/cli/cli_run.h"
#include "tests/cli/valid_utf8.h"

namespace {

using namespace clitest;

const std::string kUnsigned = "unsigned-pe32.exe";
const std::string kSigned = "signed-pe32-sha256.exe";

// The count in the completion or the stop message, or -1.
int MessageCount(const std::string& err, const std::string& before, const std::string& after) {
    std::size_t at = err.rfind(before);
    if (at == std::string::npos)
        return -1;
    at += before.size();
    std::size_t end = err.find(after, at);
    return end == std::string::npos ? -1 : std::stoi(err.substr(at, end - at));
}
int CompletedCount(const std::string& err) { return MessageCount(err, "扫描完成！共扫描", "个文件。"); }

class Scanner : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(ScannerPath()) || !fs::exists(FixturesFolder() / "pe" / kSigned))
            GTEST_SKIP() << "velmora-scan or the fixtures are not built";
        UseFixtureEnvironment(temp.Path() / "prefix");
        tree = temp.Path() / "tree";
        fs::create_directories(tree);
    }

    void Copy(const std::string& fixture, const fs::path& to) {
        fs::create_directories(to.parent_path());
        fs::copy_file(FixturesFolder() / "pe" / fixture, to, fs::copy_options::overwrite_existing);
    }

    TempFolder temp;
    fs::path tree;
};

TEST_F(Scanner, ExitStatusSaysWhetherAListedFileFailed) {
    struct Case {
        const char* name;
        std::vector<std::string> fixtures;
        std::vector<std::string> args;
        int status;
        std::size_t rows;
    };
    const Case cases[] = {
        {"trusted only", {kSigned, "catalogued.exe"}, {}, 0, 0},
        {"trusted only, passes listed", {kSigned, "catalogued.exe"}, {"--show-passed"}, 0, 2},
        {"one unsigned among trusted", {kSigned, kUnsigned}, {}, 1, 1},
        {"one tampered, passes listed", {kSigned, "tampered-header.exe"}, {"--show-passed"}, 1, 2},
        // Trusted without a signer name is neither a pass nor a failure row.
        {"trusted without a name", {"signed-no-cn.exe"}, {"--show-passed"}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(tree);
        for (std::size_t i = 0; i < c.fixtures.size(); ++i)
            Copy(c.fixtures[i], tree / ("sub" + std::to_string(i)) / c.fixtures[i]);
        std::ofstream(tree / "readme.txt") << "text";
        auto args = c.args;
        args.push_back(tree.string());
        RunResult r = RunScanner(args);
        EXPECT_EQ(r.exitCode, c.status) << r.err;
        EXPECT_EQ(Lines(r.out).size(), c.rows) << r.out;
        EXPECT_EQ(CompletedCount(r.err), static_cast<int>(c.fixtures.size()) + 1) << r.err;
    }
}

TEST_F(Scanner, BadCommandLinesGiveOneLineAndStatusTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},        {"-x"},           {"--jobs", "0"},      {"--jobs", "four"},
        {"--jobs=-3"},      {"--jobs"},       {"--jobs", "99999"},  {"--format", "xml"},
        {"--format"},       {"--quiet=yes"},  {"--all-drives", "/"}, {""},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.empty() ? "" : args[0] + (args.size() > 1 ? " " + args[1] : ""));
        RunResult r = RunScanner(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.empty()) << r.out;
        ASSERT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("velmora-scan: ", 0), 0u) << r.err;
    }
}

TEST_F(Scanner, UnreadableStartPathsAreNamedBeforeAnythingIsWalked) {
    Copy(kUnsigned, tree / "good" / kUnsigned);
    std::ofstream(tree / "plain.txt") << "x";
    fs::create_directories(tree / "locked");
    fs::create_symlink(tree / "nowhere", tree / "dangling");
    std::vector<std::string> bad = {(tree / "missing").string(), (tree / "plain.txt" / "below").string(),
                                    (tree / "dangling").string(), "Q:\\windows"};
    if (geteuid() != 0) {  // permissions do not stop root
        fs::permissions(tree / "locked", fs::perms::none);
        bad.push_back((tree / "locked").string());
    }
    for (const auto& path : bad) {
        SCOPED_TRACE(path);
        // A good path first: nothing of it may be walked once a later one is refused.
        RunResult r = RunScanner({(tree / "good").string(), path});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.empty()) << r.out;
        ASSERT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find("'" + path + "'"), std::string::npos) << r.err;
    }
}

TEST_F(Scanner, LinuxDosRelativeAndFilePathsNameTheSamePlaces) {
    const fs::path folder = tree / "Program Files" / "工具 ünï";
    Copy(kUnsigned, folder / "a b.exe");
    Copy(kSigned, folder / "签名.exe");
    Copy(kUnsigned, folder / "deeper" / "c.dll");

    RunResult linux = RunScanner({"--show-passed", folder.string()});
    ASSERT_EQ(linux.exitCode, 1) << linux.err;
    auto rows = Lines(linux.out);
    ASSERT_EQ(rows.size(), 3u) << linux.out;
    std::set<std::string> paths;
    for (const auto& row : rows) {
        auto fields = Fields(row);
        ASSERT_EQ(fields.size(), 4u) << row;
        EXPECT_EQ(fs::path(fields[3]).filename().string(), fields[0]);
        EXPECT_TRUE(fs::exists(fields[3])) << fields[3];
        paths.insert(fields[3]);
    }
    EXPECT_TRUE(paths.count((folder / "签名.exe").string()));

    // The same folder as a DOS path (Z: is the root here, any case, either slash), as a relative
    // path, and with a trailing slash: the same rows.
    std::string dos = "z:" + folder.string();
    std::replace(dos.begin(), dos.end(), '/', '\\');
    fs::current_path(tree);
    for (const std::string& form : {dos, std::string("Program Files/工具 ünï"), folder.string() + "/"}) {
        SCOPED_TRACE(form);
        RunResult r = RunScanner({"--show-passed", form});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(r.out, linux.out);
    }

    // A file as the start: that file alone.
    RunResult one = RunScanner({(folder / "a b.exe").string()});
    EXPECT_EQ(one.exitCode, 1);
    EXPECT_EQ(Lines(one.out).size(), 1u);
    EXPECT_EQ(CompletedCount(one.err), 1) << one.err;
}

TEST_F(Scanner, FieldsCannotForgeRowsAndJsonStaysUtf8) {
    Copy(kUnsigned, tree / "tab\there\nnew line.exe");
    Copy(kUnsigned, tree / "bad\xff" "byte.exe");

    RunResult tsv = RunScanner({"--format", "tsv", tree.string()});
    auto rows = Lines(tsv.out);
    ASSERT_EQ(rows.size(), 2u) << tsv.out;
    std::set<std::string> names;
    for (const auto& row : rows) {
        ASSERT_EQ(Fields(row).size(), 4u) << row;
        names.insert(Fields(row)[0]);
    }
    EXPECT_TRUE(names.count("tab\\there\\nnew line.exe"));
    EXPECT_TRUE(names.count("bad\xff" "byte.exe"));  // TSV keeps the name's own bytes

    RunResult json = RunScanner({"--format", "json", tree.string()});
    auto objects = Lines(json.out);
    ASSERT_EQ(objects.size(), 2u) << json.out;
    EXPECT_TRUE(ValidUtf8(json.out));
    EXPECT_NE(json.out.find(R"("name":"tab\there\nnew line.exe")"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find(R"("name":"bad\uDCFFbyte.exe")"), std::string::npos) << json.out;
}

TEST_F(Scanner, ParallelVerificationGivesExactlyTheRowsOfOneJob) {
    MakeMixedTree(tree, 300);
    RunResult one = RunScanner({"--jobs", "1", "--format", "json", "--show-passed", tree.string()});
    ASSERT_EQ(one.exitCode, 1) << one.err;
    auto rows = Lines(one.out);
    ASSERT_EQ(rows.size(), 250u);  // every executable: 10 of each 12 files
    // Each row carries its own file's signer: the names differ by kind of file.
    const std::regex number(R"("name":"f(\d+)\.exe")");
    for (const auto& row : rows) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(row, m, number)) << row;
        const int kind = std::stoi(m[1]) % 12;
        const char* signer = kind == 0 || kind == 4 ? "Velmora Test Signer"
                             : kind == 3 || kind == 7 ? "Velmora Catalog Signer"
                             : kind == 9            ? "Velmora No Usage Signer"
                                                    : "";
        EXPECT_NE(row.find(std::string("\"signer\":\"") + signer + "\""), std::string::npos) << row;
    }
    for (int run = 0; run < 20; ++run) {
        RunResult four = RunScanner({"--jobs", "4", "--format", "json", "--show-passed", tree.string()});
        ASSERT_EQ(four.out, one.out) << "run " << run;
        ASSERT_EQ(four.exitCode, 1);
        ASSERT_EQ(CompletedCount(four.err), 300);
    }
    RunResult tsvOne = RunScanner({"--jobs", "1", tree.string()});
    RunResult tsvFour = RunScanner({"--jobs", "4", tree.string()});
    EXPECT_EQ(tsvFour.out, tsvOne.out);
    EXPECT_EQ(Lines(tsvOne.out).size(), 100u);  // the failures: 4 of each 12 files
}

TEST_F(Scanner, InterruptStopsTheWalkPrintsWhatWasFoundAndExits130) {
    MakeMixedTree(tree, 3000);
    RunResult full = RunScanner({"--jobs", "1", "--format", "json", "--show-passed", tree.string()});
    for (const char* jobs : {"1", "3"}) {
        SCOPED_TRACE(jobs);
        bool sent = false;
        RunOptions options;
        options.onOutput = [&sent](pid_t pid, const std::string& out) {
            if (!sent && out.find('\n') != std::string::npos) {
                kill(pid, SIGINT);  // the first row proves the handler is in place
                sent = true;
            }
            return false;
        };
        RunResult r = RunScanner({"--jobs", jobs, "--format", "json", "--show-passed", tree.string()}, options);
        EXPECT_EQ(r.exitCode, 130) << r.err;
        const int count = MessageCount(r.err, "扫描被停止！扫描", "个文件。");
        EXPECT_GT(count, 0) << r.err;
        EXPECT_LT(count, 3000) << r.err;
        EXPECT_EQ(r.err.find("扫描完成"), std::string::npos);
        // What was printed are whole rows of the full scan, in its order.
        auto rows = Lines(r.out);
        auto all = Lines(full.out);
        EXPECT_FALSE(rows.empty());
        EXPECT_TRUE(r.out.empty() || r.out.back() == '\n');
        auto at = all.begin();
        for (const auto& row : rows) {
            at = std::find(at, all.end(), row);
            ASSERT_NE(at, all.end()) << row;
        }
    }
}

TEST_F(Scanner, AReaderThatLeavesEndsTheScanCleanly) {
    MakeMixedTree(tree, 600);
    RunOptions options;
    options.onOutput = [](pid_t, const std::string& out) { return out.find('\n') != std::string::npos; };
    for (const char* jobs : {"1", "2"}) {
        RunResult r = RunScanner({"--jobs", jobs, "--show-passed", "--format", "json", tree.string()}, options);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.signal, 0);
        EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.exitCode << r.err;
        EXPECT_EQ(r.err.find("velmora-scan:"), std::string::npos) << r.err;
    }

    RunOptions closed;
    closed.closeStdout = true;
    RunResult r = RunScanner({tree.string()}, closed);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "velmora-scan: standard output is closed\n");
}

TEST_F(Scanner, AllDrivesWalksBToZInLetterOrderButNeverA) {
    // A prefix of drives A:, D: and F:, and a broken G:; no Z:, so the machine's root stays out.
    const fs::path prefix = temp.Path() / "drives";
    fs::create_directories(prefix / "dosdevices");
    for (char letter : {'a', 'f', 'd'}) {
        fs::path folder = temp.Path() / (std::string("drive_") + letter);
        Copy(kUnsigned, folder / "sub" / (std::string(1, letter) + ".exe"));
        fs::create_directory_symlink(folder, prefix / "dosdevices" / (std::string(1, letter) + ":"));
    }
    fs::create_directory_symlink(temp.Path() / "missing", prefix / "dosdevices" / "g:");
    setenv("WINEPREFIX", prefix.c_str(), 1);

    RunResult r = RunScanner({"--all-drives", "--format", "json"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    auto rows = Lines(r.out);
    ASSERT_EQ(rows.size(), 2u) << r.out;
    EXPECT_NE(rows[0].find(R"("dos_path":"D:\\sub\\d.exe")"), std::string::npos) << rows[0];
    EXPECT_NE(rows[1].find(R"("dos_path":"F:\\sub\\f.exe")"), std::string::npos) << rows[1];
    EXPECT_NE(rows[0].find("\"path\":\"" + (temp.Path() / "drive_d" / "sub" / "d.exe").string() + "\""),
              std::string::npos)
        << rows[0];
    EXPECT_EQ(CompletedCount(r.err), 2);
}

TEST_F(Scanner, NoPathScansTheWindowsDirectory) {
    const fs::path windows = temp.Path() / "windows";
    Copy(kUnsigned, windows / "System32" / "bad.dll");
    Copy(kSigned, windows / "good.exe");
    setenv("WINDIR", windows.c_str(), 1);
    RunResult r = RunScanner({});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    ASSERT_EQ(Lines(r.out).size(), 1u);
    EXPECT_EQ(Fields(r.out)[0], "bad.dll");
    EXPECT_EQ(CompletedCount(r.err), 2);

    setenv("WINDIR", (temp.Path() / "none").c_str(), 1);
    RunResult none = RunScanner({});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_EQ(Lines(none.err).size(), 1u) << none.err;
}

TEST_F(Scanner, ProgressLineStaysWithinTheTerminalAndIsClearedAtTheEnd) {
    MakeMixedTree(tree / "a rather long folder name that will not fit on a narrow terminal line", 300);
    for (bool quiet : {false, true}) {
        SCOPED_TRACE(quiet);
        int master = -1, slave = -1;
        winsize size{};
        size.ws_col = 40;
        size.ws_row = 20;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
        RunOptions options;
        options.stderrFd = slave;
        options.terminalFd = master;
        std::vector<std::string> args = {"--jobs", "1", tree.string()};
        if (quiet)
            args.insert(args.begin(), "--quiet");
        RunResult r = RunScanner(args, options);
        close(master);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(Lines(r.out).size(), 100u);  // rows are not disturbed by the line
        if (quiet) {
            EXPECT_TRUE(r.terminal.empty()) << r.terminal;
            continue;
        }
        const std::string& term = r.terminal;
        const std::string clear = "\r\x1b[K";
        const std::size_t done = term.find("扫描完成！共扫描300个文件。");
        ASSERT_NE(done, std::string::npos) << term;
        ASSERT_GE(done, clear.size());
        EXPECT_EQ(term.substr(done - clear.size(), clear.size()), clear);  // cleared before the message
        // Every drawing fits in 39 columns (these paths are ASCII, so bytes are columns).
        std::size_t drawings = 0;
        for (std::size_t at = term.find('\r'); at != std::string::npos && at < done; at = term.find('\r', at + 1)) {
            const std::size_t end = term.find("\x1b[K", at);
            ASSERT_NE(end, std::string::npos);
            const std::string text = term.substr(at + 1, end - at - 1);
            if (text.empty())
                continue;
            ++drawings;
            EXPECT_NE(text.find(" files, "), std::string::npos) << text;
            std::size_t columns = 0;
            for (unsigned char c : text)
                columns += (c & 0xC0) != 0x80;
            EXPECT_LE(columns, 39u) << text;
        }
        EXPECT_GE(drawings, 1u);
    }
}

TEST_F(Scanner, TableIsTheDefaultOnATerminalAndTsvOtherwise) {
    Copy(kUnsigned, tree / "x.exe");
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    RunOptions options;
    options.stdoutFd = slave;
    options.terminalFd = master;
    RunResult onTerminal = RunScanner({"--quiet", tree.string()}, options);
    close(master);
    EXPECT_EQ(onTerminal.terminal.rfind("文件名称", 0), 0u) << onTerminal.terminal;
    EXPECT_NE(onTerminal.terminal.find("x.exe"), std::string::npos);

    RunResult piped = RunScanner({"--quiet", tree.string()});
    EXPECT_EQ(piped.out, "x.exe\t未通过\t\t" + (tree / "x.exe").string() + "\n");
}

}  // namespace
