#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "platform/kernel/file_api.h"
#include "scan/directory_walk.h"
#include "tests/scan/scan_tree.h"

using namespace scantest;

namespace {

// Records what the walk asks of its front end, and can ask it to stop after a number of calls.
class RecordingSink : public ScanSink {
  public:
    bool ShouldStop() override {
        ++stopQuestions;
        return stopAfterEvents >= 0 && static_cast<int>(events.size()) >= stopAfterEvents;
    }
    void ShowEntry(const CString& fullPath) override { events.push_back("show " + Utf8(fullPath)); }
    void CountFile() override {
        ++files;
        events.push_back("count");
    }
    void OnExecutable(const CString& name, const CString& fullPath) override {
        events.push_back("exe " + Utf8(name) + " " + Utf8(fullPath));
    }

    std::vector<std::string> Shown() const {
        std::vector<std::string> shown;
        for (const auto& e : events)
            if (e.rfind("show ", 0) == 0)
                shown.push_back(e.substr(5));
        return shown;
    }
    std::vector<std::string> Executables() const {
        std::vector<std::string> exes;
        for (const auto& e : events)
            if (e.rfind("exe ", 0) == 0)
                exes.push_back(e.substr(4));
        return exes;
    }

    std::vector<std::string> events;
    int files = 0;
    int stopQuestions = 0;
    int stopAfterEvents = -1;
};

std::multiset<std::string> AsSet(const std::vector<std::string>& v) {
    return {v.begin(), v.end()};
}

class WalkTest : public ::testing::Test {
  protected:
    Prefix prefix;
    fs::path d = prefix.AddDrive('d');

    void Walk(const CString& path, RecordingSink& sink) {
        DirectoryWalk walk(sink);
        walk.Walk(path);
    }
};

} // namespace

TEST(ScanPattern, FolderFileAndDriveRootForms) {
    struct Case {
        const char16_t* path;
        DWORD attributes;
        const char16_t* pattern;
    } cases[] = {
        {u"D:\\tree", FILE_ATTRIBUTE_DIRECTORY, u"D:\\tree\\*.*"},
        {u"B:\\", FILE_ATTRIBUTE_DIRECTORY, u"B:\\*.*"},
        {u"D:\\tree\\", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY, u"D:\\tree\\*.*"},
        {u"D:\\gone", INVALID_FILE_ATTRIBUTES, u"D:\\gone\\*.*"},
        {u"D:\\tree\\a.exe", FILE_ATTRIBUTE_ARCHIVE, u"D:\\tree\\a.exe"},
        {u"", INVALID_FILE_ATTRIBUTES, u"\\*.*"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScanPattern(CString(c.path), c.attributes), CString(c.pattern)) << CString(c.path).ToUtf8();
}

TEST_F(WalkTest, ShowsEveryEntryCountsFilesAndHandsOverOnlyExecutables) {
    WriteFile(d / "tree/app.exe", PeBytes());
    WriteFile(d / "tree/data.bin", PeBytes()); // an executable whatever its extension
    WriteFile(d / "tree/dos.com", MzOnlyBytes());
    WriteFile(d / "tree/small.exe", PeBytes(312));
    WriteText(d / "tree/readme.txt", "hello");
    WriteFile(d / "tree/sub/lib.dll", PeBytes(313));
    WriteFile(d / "tree/sub/deeper/empty.exe", {});
    mkfifo((d / "tree/sub/pipe").c_str(), 0600); // never opened: the walk would hang on it

    RecordingSink sink;
    Walk(Dos('d', "tree"), sink);

    std::multiset<std::string> shown = AsSet(sink.Shown());
    std::multiset<std::string> expected;
    for (const char* rel :
         {"tree/.", "tree/..", "tree/app.exe", "tree/data.bin", "tree/dos.com", "tree/small.exe",
          "tree/readme.txt", "tree/sub", "tree/sub/.", "tree/sub/..", "tree/sub/lib.dll", "tree/sub/pipe",
          "tree/sub/deeper", "tree/sub/deeper/.", "tree/sub/deeper/..", "tree/sub/deeper/empty.exe"})
        expected.insert(Utf8(Dos('d', rel)));
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(sink.files, 8);
    EXPECT_EQ(AsSet(sink.Executables()), AsSet({"app.exe " + Utf8(Dos('d', "tree/app.exe")),
                                                "data.bin " + Utf8(Dos('d', "tree/data.bin")),
                                                "lib.dll " + Utf8(Dos('d', "tree/sub/lib.dll"))}));

    // Each file is shown, then counted, then (if executable) handed over; a folder's entries
    // follow its own entry before anything else of its parent.
    for (std::size_t i = 0; i < sink.events.size(); ++i) {
        if (sink.events[i] == "count") {
            ASSERT_TRUE(i > 0 && sink.events[i - 1].rfind("show ", 0) == 0) << i;
        }
        if (sink.events[i].rfind("exe ", 0) == 0) {
            ASSERT_EQ(sink.events[i - 1], "count") << i;
        }
    }
    std::vector<std::string> order = sink.Shown();
    auto sub = std::find(order.begin(), order.end(), Utf8(Dos('d', "tree/sub")));
    ASSERT_NE(sub, order.end());
    std::string subPrefix = Utf8(Dos('d', "tree/sub")) + "\\";
    std::size_t below = 0;
    for (auto it = sub + 1; it != order.end() && it->rfind(subPrefix, 0) == 0; ++it)
        ++below;
    EXPECT_EQ(below, 8u) << "the subfolder is walked completely before its parent's next entry";
}

TEST_F(WalkTest, StartPathsThatAreFilesMissingOrEmpty) {
    WriteFile(d / "one/app.exe", PeBytes());
    WriteText(d / "one/other.txt", "x");
    struct Case {
        CString path;
        int files;
        std::size_t shown;
        std::size_t executables;
    } cases[] = {
        {Dos('d', "one/app.exe"), 1, 1, 1},
        {Dos('d', "one/other.txt"), 1, 1, 0},
        {Dos('d', "does/not/exist"), 0, 0, 0},
        {Dos('q', "nothing"), 0, 0, 0}, // no such drive
        {CString(u""), 0, 0, 0},
    };
    for (const auto& c : cases) {
        RecordingSink sink;
        Walk(c.path, sink);
        EXPECT_EQ(sink.files, c.files) << Utf8(c.path);
        EXPECT_EQ(sink.Shown().size(), c.shown) << Utf8(c.path);
        EXPECT_EQ(sink.Executables().size(), c.executables) << Utf8(c.path);
    }
    RecordingSink sink;
    Walk(Dos('d', "one/app.exe"), sink);
    EXPECT_EQ(sink.Shown(), std::vector<std::string>{Utf8(Dos('d', "one/app.exe"))});
}

TEST_F(WalkTest, DriveRootIsSearchedWithoutADoubledBackslash) {
    WriteFile(d / "top.exe", PeBytes());
    RecordingSink sink;
    Walk(CString(u"D:\\"), sink);
    EXPECT_EQ(AsSet(sink.Shown()), AsSet({"D:\\.", "D:\\..", "D:\\top.exe"}));
    EXPECT_EQ(sink.Executables(), std::vector<std::string>{"top.exe D:\\top.exe"});
}

TEST_F(WalkTest, EachFolderIsEnteredOncePerScanWhateverLeadsThere) {
    WriteFile(d / "tree/real/app.exe", PeBytes());
    fs::create_directory_symlink(d / "tree", d / "tree/real/loop");  // back up to the start
    fs::create_directory_symlink(d / "tree/real", d / "tree/alias"); // a second way in
    fs::create_directory_symlink(d / "tree/real/loop", d / "tree/real/chain");
    prefix.AddDriveAt('e', d / "tree/real"); // and a whole second drive onto it

    RecordingSink sink;
    DirectoryWalk walk(sink);
    walk.Walk(Dos('d', "tree"));
    walk.Walk(CString(u"E:\\"));
    walk.Walk(Dos('d', "tree/alias"));
    EXPECT_EQ(sink.files, 1);
    EXPECT_EQ(sink.Executables().size(), 1u);
    // The links themselves are still entries of their folders and are shown.
    std::multiset<std::string> shown = AsSet(sink.Shown());
    EXPECT_EQ(shown.count(Utf8(Dos('d', "tree/alias"))), 1u);
    EXPECT_EQ(shown.count(Utf8(Dos('d', "tree/real/loop"))) + shown.count(Utf8(Dos('d', "tree/alias/loop"))),
              1u);

    // A new scan is a new walk: it enters everything again.
    RecordingSink again;
    DirectoryWalk second(again);
    second.Walk(CString(u"E:\\"));
    EXPECT_EQ(again.files, 1);
}

TEST_F(WalkTest, StopEndsTheWalkAtOnceAndBeforeAnyHandOver) {
    for (int i = 0; i < 5; ++i)
        WriteFile(d / ("tree/sub" + std::to_string(i) + "/f.exe"), PeBytes());
    RecordingSink full;
    Walk(Dos('d', "tree"), full);
    ASSERT_EQ(full.Executables().size(), 5u);

    for (std::size_t cut = 0; cut <= full.events.size(); ++cut) {
        RecordingSink sink;
        sink.stopAfterEvents = static_cast<int>(cut);
        DirectoryWalk walk(sink);
        walk.Walk(Dos('d', "tree"));
        // The walk asks before each entry and before each hand-over, so it may finish the entry it
        // is on (show, count, executable test) but never hands over an executable after the stop.
        ASSERT_LE(sink.events.size(), cut + 2) << cut;
        for (std::size_t i = cut; i < sink.events.size(); ++i)
            ASSERT_EQ(sink.events[i].rfind("exe ", 0), std::string::npos) << cut;
        int questions = sink.stopQuestions;
        walk.Walk(Dos('d', "tree"));
        EXPECT_EQ(sink.stopQuestions, questions + (cut < full.events.size() ? 0 : 1)) << cut;
    }
}

TEST_F(WalkTest, FolderBeyondTheSearchLimitIsShownButNotEntered) {
    // D:\ plus names up to a folder whose path is 255 units (entered: its pattern is 259) and one
    // of 256 units (not entered: its pattern would be 260).
    std::string rel = "t";
    while (Dos('d', rel).GetLength() < 240)
        rel += "/" + std::string(9, 'n');
    std::string entered = rel + "/" + std::string(255 - Dos('d', rel).GetLength() - 1, 'a');
    std::string refused = rel + "/" + std::string(256 - Dos('d', rel).GetLength() - 1, 'b');
    ASSERT_EQ(Dos('d', entered).GetLength(), 255);
    ASSERT_EQ(Dos('d', refused).GetLength(), 256);
    WriteText(d / entered / "in.txt", "x");
    WriteText(d / refused / "in.txt", "x");

    RecordingSink sink;
    Walk(Dos('d', "t"), sink);
    std::multiset<std::string> shown = AsSet(sink.Shown());
    EXPECT_EQ(shown.count(Utf8(Dos('d', entered))), 1u);
    EXPECT_EQ(shown.count(Utf8(Dos('d', refused))), 1u);
    EXPECT_EQ(shown.count(Utf8(Dos('d', refused + "/in.txt"))), 0u);
    EXPECT_EQ(sink.files, 1);
}

TEST_F(WalkTest, AnyUnicodeNameIsWalkedAndCounted) {
    const std::vector<std::string> names = {"签名.exe",       "emoji-😀.dll",          "ÄÖÜ ß.bin",
                                            "space name.exe", "semi;colon,comma.exe", "日本語フォルダ"};
    for (const auto& name : names)
        WriteFile(d / "u" / name / "inner.exe", PeBytes());
    for (const auto& name : names)
        WriteFile(d / "u" / ("f-" + name), PeBytes());
    WriteText(d / "u" / "bad-\xff\xfe-bytes", "not UTF-8 on disk");

    RecordingSink sink;
    Walk(Dos('d', "u"), sink);
    EXPECT_EQ(sink.files, static_cast<int>(2 * names.size() + 1));
    std::set<std::string> executables;
    for (const auto& e : sink.Executables())
        executables.insert(e.substr(0, e.find(' ') == std::string::npos ? e.size() : e.find(" D:")));
    for (const auto& name : names)
        EXPECT_EQ(executables.count("f-" + name), 1u) << name;
    EXPECT_EQ(sink.Executables().size(), 2 * names.size());
}

TEST_F(WalkTest, VanishingEntriesAndDeepTreesEndCleanly) {
    // A tree deeper than any search can reach: the walk stops at the limit on its own.
    std::string deep = "deep";
    for (int i = 0; i < 200; ++i)
        deep += "/x";
    WriteText(d / deep / "bottom.txt", "x");
    WriteText(d / "deep/top.txt", "x");

    // Files and folders that disappear while they are being walked.
    class VanishingSink : public RecordingSink {
      public:
        fs::path root;
        void ShowEntry(const CString& fullPath) override {
            RecordingSink::ShowEntry(fullPath);
            if (fullPath.ToUtf8().find("\\gone") != std::string::npos) {
                std::error_code ignored;
                fs::remove_all(root / "gone", ignored);
                fs::remove_all(root / "gone-file.exe", ignored);
            }
        }
    } sink;
    sink.root = d;
    WriteFile(d / "gone/a.exe", PeBytes());
    WriteFile(d / "gone-file.exe", PeBytes());
    DirectoryWalk walk(sink);
    walk.Walk(Dos('d', "deep"));
    EXPECT_EQ(sink.files, 1) << "only top.txt lies within the search limit";
    walk.Walk(Dos('d', "gone"));
    walk.Walk(Dos('d', "gone-file.exe"));
    EXPECT_TRUE(sink.Executables().empty()) << "a file that vanished is no executable";
}

// Folders and files the user may not read: the folder is shown but yields nothing, the file is
// counted but is no executable, and the walk goes on to the rest. Root reads everything, so the
// walk then runs in a child that has given up root.
TEST_F(WalkTest, UnreadableFoldersAndFilesAreSkippedAndTheWalkGoesOn) {
    WriteFile(d / "t/a-readable.exe", PeBytes());
    WriteFile(d / "t/b-locked/inside.exe", PeBytes());
    WriteFile(d / "t/c-secret.exe", PeBytes());
    WriteFile(d / "t/d-after/last.exe", PeBytes());
    for (auto& entry : fs::recursive_directory_iterator(prefix.Root()))
        if (!entry.is_symlink())
            chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
    chmod(prefix.Root().c_str(), 0755);
    chmod((d / "t/b-locked").c_str(), 0);
    chmod((d / "t/c-secret.exe").c_str(), 0);

    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        RecordingSink sink;
        DirectoryWalk walk(sink);
        walk.Walk(Dos('d', "t"));
        std::string report = std::to_string(sink.files) + "\n";
        for (const auto& shown : sink.Shown())
            report += "show " + shown + "\n";
        for (const auto& exe : sink.Executables())
            report += "exe " + exe + "\n";
        bool written = write(channel[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
        _exit(written ? 0 : 4);
    }
    close(channel[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<std::size_t>(n));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    chmod((d / "t/b-locked").c_str(), 0755);
    chmod((d / "t/c-secret.exe").c_str(), 0644);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

    EXPECT_EQ(report.substr(0, report.find('\n')), "3") << "a-readable, c-secret and last are counted";
    EXPECT_NE(report.find("show D:\\t\\b-locked\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("inside.exe"), std::string::npos) << report;
    EXPECT_NE(report.find("exe a-readable.exe D:\\t\\a-readable.exe\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("exe c-secret.exe"), std::string::npos) << report;
    EXPECT_NE(report.find("exe last.exe D:\\t\\d-after\\last.exe\n"), std::string::npos) << report;
}

// The walk keeps nothing per file: what it holds at its peak does not grow with the number of
// files, only with the folders it has entered.
TEST_F(WalkTest, MemoryDoesNotGrowWithTheNumberOfFiles) {
    class PeakSink : public ScanSink {
      public:
        bool ShouldStop() override { return false; }
        void ShowEntry(const CString&) override {
            if (++entries % 500 == 0)
                peak = std::max(peak, mallinfo2().uordblks);
        }
        void CountFile() override { ++files; }
        void OnExecutable(const CString&, const CString&) override {}
        long entries = 0;
        long files = 0;
        std::size_t peak = 0;
    };
    auto makeTree = [&](const std::string& name, int perFolder) {
        for (int folder = 0; folder < 20; ++folder) {
            fs::path dir = d / name / ("f" + std::to_string(folder));
            fs::create_directories(dir);
            for (int i = 0; i < perFolder; ++i)
                close(open((dir / ("file-" + std::to_string(i) + ".dat")).c_str(), O_CREAT | O_WRONLY, 0644));
        }
    };
    makeTree("small", 100);
    makeTree("large", 5000);
    auto peakOf = [&](const std::string& name, long expectedFiles) {
        PeakSink sink;
        DirectoryWalk walk(sink);
        walk.Walk(Dos('d', name));
        EXPECT_EQ(sink.files, expectedFiles);
        return sink.peak;
    };
    peakOf("small", 2000); // the first walk settles what is allocated once
    std::size_t small = peakOf("small", 2000);
    std::size_t large = peakOf("large", 100000);
    if (small == 0)
        GTEST_SKIP() << "this allocator does not report what it holds";
    EXPECT_LT(large, small + 256 * 1024) << "2,000 files: " << small << " bytes; 100,000 files: " << large;
}

// A front end that tests files itself gets every counted file, executables or not, in walk order,
// and the walk tests none of them.
TEST_F(WalkTest, AFrontEndThatTestsFilesItselfGetsEveryCountedFile) {
    WriteFile(d / "t/a.exe", PeBytes());
    WriteText(d / "t/b.txt", "text");
    WriteFile(d / "t/sub/c.dll", PeBytes());
    class SelfTestingSink : public RecordingSink {
      public:
        bool TestsFilesItself() const override { return true; }
        void OnFile(const CString& name, const CString& fullPath) override {
            events.push_back("file " + Utf8(name) + " " + Utf8(fullPath));
        }
    } sink;
    Walk(Dos('d', "t"), sink);
    std::vector<std::string> handed;
    for (const auto& e : sink.events)
        if (e.rfind("file ", 0) == 0)
            handed.push_back(e.substr(5));
    EXPECT_EQ(AsSet(handed), AsSet({"a.exe D:\\t\\a.exe", "b.txt D:\\t\\b.txt", "c.dll D:\\t\\sub\\c.dll"}));
    EXPECT_EQ(sink.files, 3);
    EXPECT_TRUE(sink.Executables().empty());
    // Each file is handed over just after it is counted.
    for (std::size_t i = 0; i < sink.events.size(); ++i) {
        if (sink.events[i].rfind("file ", 0) == 0) {
            EXPECT_EQ(sink.events[i - 1], "count");
        }
    }
}
