#include "platform/kernel/file_find.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "platform/kernel/file_api.h"
#include "tests/kernel/temp_tree.h"

namespace {

using velmora::kernel::LinuxPathToDos;

struct Found {
    std::vector<std::string> names;  // in the order found
    std::map<std::string, bool> isDirectory;
    std::map<std::string, std::string> paths;
};

Found FindAll(const CString& pattern) {
    Found found;
    CFileFind finder;
    BOOL more = finder.FindFile(pattern);
    while (more) {
        more = finder.FindNextFile();
        std::string name = finder.GetFileName().ToUtf8();
        found.names.push_back(name);
        found.isDirectory[name] = finder.IsDirectory();
        found.paths[name] = finder.GetFilePath().ToUtf8();
        EXPECT_EQ(finder.IsDots() != FALSE, name == "." || name == "..");
    }
    return found;
}

class Search : public ::testing::Test {
protected:
    TempTree tree;
    CString root;
    void SetUp() override {
        tree.File("dir/App.EXE");
        tree.File("dir/notes.txt");
        tree.File("dir/README");
        tree.Folder("dir/sub");
        tree.File("dir/sub/inner.dll");
        tree.Link("dir/sub-link", tree.Path("dir/sub"));
        tree.Link("dir/sub/loop", "..");  // a link back up: a loop for any walk that follows links
        tree.Link("dir/dangling", tree.Path("nowhere"));
        root = LinuxPathToDos(tree.Path("dir"));
    }
};

TEST_F(Search, StarDotStarListsEveryEntryWithTheDotsFirst) {
    Found found = FindAll(root + u"\\*.*");
    ASSERT_GE(found.names.size(), 2u);
    EXPECT_EQ(found.names[0], ".");
    EXPECT_EQ(found.names[1], "..");
    std::map<std::string, bool> want = {{".", true},        {"..", true},        {"App.EXE", false},
                                        {"notes.txt", false}, {"README", false},   {"sub", true},
                                        {"sub-link", true},   {"dangling", false}};
    EXPECT_EQ(found.isDirectory, want);
    EXPECT_EQ(found.paths["notes.txt"], (root + u"\\notes.txt").ToUtf8());
    EXPECT_EQ(found.paths["."], (root + u"\\.").ToUtf8());
}

TEST_F(Search, PatternsSelectNamesWithoutRegardToCase) {
    struct Case {
        std::u16string pattern;
        std::vector<std::string> names;
    } cases[] = {
        {u"\\*.exe", {"App.EXE"}},
        {u"\\*.TXT", {"notes.txt"}},
        {u"\\readme.*", {"README"}},  // "name.*" also matches a name with no extension
        {u"\\n?tes.*", {"notes.txt"}},
        {u"\\*.none", {}},
        {u"\\notes.txt", {"notes.txt"}},  // a single file: just that file
        {u"\\NOTES.TXT", {"notes.txt"}},  // found under its name on disk
        {u"\\sub", {"sub"}},              // a single folder, not its contents
        {u"\\missing.txt", {}},
    };
    for (const auto& c : cases) {
        Found found = FindAll(root + CString(c.pattern));
        std::sort(found.names.begin(), found.names.end());
        EXPECT_EQ(found.names, c.names) << CString(c.pattern).ToUtf8();
    }
}

TEST_F(Search, FailuresToStartSayWhy) {
    struct Case {
        CString pattern;
        DWORD error;
    } cases[] = {
        {root + u"\\missing\\*.*", ERROR_PATH_NOT_FOUND},
        {root + u"\\notes.txt\\*.*", ERROR_PATH_NOT_FOUND},
        {root + u"\\nothing-like-this", ERROR_FILE_NOT_FOUND},
        {root + u"\\", ERROR_FILE_NOT_FOUND},
        {CString(u"Q:\\*.*"), ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        CFileFind finder;
        EXPECT_FALSE(finder.FindFile(c.pattern)) << c.pattern.ToUtf8();
        EXPECT_EQ(GetLastError(), c.error) << c.pattern.ToUtf8();
        EXPECT_FALSE(finder.FindNextFile());
    }
}

TEST_F(Search, APatternOfMaxPathCharactersDoesNotStart) {
    // Build a folder whose "...\*.*" pattern is exactly 259 characters, and one a character longer.
    CString base = LinuxPathToDos(tree.Root());
    int fill = 259 - base.GetLength() - 1 - 4;  // "\" + name + "\*.*"
    ASSERT_GT(fill, 10);
    std::string shortName(static_cast<std::size_t>(fill), 'a');
    std::string longName(static_cast<std::size_t>(fill + 1), 'b');
    tree.File(shortName + "/x");
    tree.File(longName + "/x");
    CString fits = base + u"\\" + CString::FromUtf8(shortName) + u"\\*.*";
    CString tooLong = base + u"\\" + CString::FromUtf8(longName) + u"\\*.*";
    ASSERT_EQ(fits.GetLength(), 259);
    ASSERT_EQ(tooLong.GetLength(), 260);

    CFileFind finder;
    EXPECT_TRUE(finder.FindFile(fits));
    EXPECT_FALSE(finder.FindFile(tooLong));
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(Search, IdentityShowsALinkedFolderAndALoopForWhatTheyAre) {
    auto identityOf = [](const CString& pattern) {
        CFileFind finder;
        EXPECT_TRUE(finder.FindFile(pattern));
        finder.FindNextFile();
        return finder.GetFileIdentity();
    };
    auto sub = identityOf(root + u"\\sub");
    auto link = identityOf(root + u"\\sub-link");
    auto loop = identityOf(root + u"\\sub\\loop");
    auto dir = identityOf(root);
    ASSERT_TRUE(sub && link && loop && dir);
    EXPECT_EQ(*sub, *link);
    EXPECT_EQ(*loop, *dir);
    EXPECT_FALSE(*sub == *dir);
    EXPECT_FALSE(identityOf(root + u"\\dangling").has_value());
}

TEST_F(Search, ANameThatIsNotUtf8CanBeOpenedByThePathItIsListedUnder) {
    tree.File("raw/caf\xE9.bin", "bytes");
    Found found = FindAll(LinuxPathToDos(tree.Path("raw")) + u"\\*.*");
    ASSERT_EQ(found.names.size(), 3u);
    CString path = CString::FromUtf8(found.paths[found.names[2]]);
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
}

TEST_F(Search, ADriveRootPatternJoinsNamesWithoutADoubledBackslash) {
    TempTree prefix;
    ScopedEnv env("WINEPREFIX", prefix.Path("p"));
    prefix.Folder("p/dosdevices");
    prefix.Link("p/dosdevices/b:", tree.Path("dir"));
    velmora::kernel::RefreshDrives();
    Found found = FindAll(u"B:\\*.*");
    EXPECT_EQ(found.paths["notes.txt"], "B:\\notes.txt");
    EXPECT_TRUE(found.isDirectory["sub"]);
}

TEST_F(Search, AFinderMovesWithItsSearch) {
    CFileFind first;
    ASSERT_TRUE(first.FindFile(root + u"\\*.*"));
    first.FindNextFile();
    CFileFind second(std::move(first));
    EXPECT_FALSE(first.FindNextFile());
    EXPECT_EQ(second.GetFileName(), u".");
    EXPECT_TRUE(second.FindNextFile());
    EXPECT_EQ(second.GetFileName(), u"..");
    second.Close();
    EXPECT_EQ(second.GetFileName(), u"");
}

}  // namespace
