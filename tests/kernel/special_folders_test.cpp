#include "platform/shell/special_folders.h"

#include <gtest/gtest.h>

#include "platform/kernel/cstring.h"
#include "tests/kernel/temp_tree.h"

namespace {

CString WindowsFolder(BOOL* ok = nullptr) {
    WCHAR buffer[MAX_PATH] = {u'?', 0};
    BOOL result = SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_WINDOWS, FALSE);
    if (ok)
        *ok = result;
    return CString(buffer);
}

class WindowsDirectory : public ::testing::Test {
protected:
    TempTree tree;
    ScopedEnv prefix{"WINEPREFIX", tree.Path("prefix")};
    ScopedEnv windir{"WINDIR", std::nullopt};
    void SetUp() override {
        tree.Folder("prefix/dosdevices");
        tree.Folder("prefix/drive_c");
        tree.Link("prefix/dosdevices/c:", tree.Path("prefix/drive_c"));
        tree.Folder("other/win");
        tree.Link("prefix/dosdevices/d:", tree.Path("other"));
        velmora::kernel::RefreshDrives();
    }
};

TEST_F(WindowsDirectory, IsCWindowsInTheCaseItHasOnDisk) {
    BOOL ok = FALSE;
    EXPECT_EQ(WindowsFolder(&ok), u"");
    EXPECT_FALSE(ok);
    tree.Folder("prefix/drive_c/Windows");
    EXPECT_EQ(WindowsFolder(&ok), u"C:\\Windows");
    EXPECT_TRUE(ok);
}

TEST_F(WindowsDirectory, WindirWinsWhenItNamesAFolder) {
    tree.Folder("prefix/drive_c/windows");
    {
        ScopedEnv set("WINDIR", tree.Path("other/win"));  // a Linux path
        EXPECT_EQ(WindowsFolder(), u"D:\\win");
    }
    {
        ScopedEnv set("WINDIR", "D:\\win");
        EXPECT_EQ(WindowsFolder(), u"D:\\win");
    }
    {
        ScopedEnv set("WINDIR", tree.Path("other/missing"));
        EXPECT_EQ(WindowsFolder(), u"C:\\windows");
    }
}

TEST_F(WindowsDirectory, OtherFoldersAndMissingBuffersFail) {
    tree.Folder("prefix/drive_c/windows");
    WCHAR buffer[MAX_PATH] = {u'?', 0};
    EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, buffer, 0x25, FALSE));
    EXPECT_EQ(buffer[0], 0);
    EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, nullptr, CSIDL_WINDOWS, FALSE));
}

TEST_F(WindowsDirectory, APathTooLongForTheBufferFails) {
    std::string deep = tree.Folder("other/" + std::string(120, 'a') + "/" + std::string(140, 'b'));
    ScopedEnv set("WINDIR", deep);
    BOOL ok = TRUE;
    EXPECT_EQ(WindowsFolder(&ok), u"");
    EXPECT_FALSE(ok);
}

}  // namespace
