#include "platform/kernel/dos_paths.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/kernel/file_api.h"
#include "platform/kernel/file_find.h"
#include "tests/kernel/temp_tree.h"

namespace {

using velmora::kernel::DosPathToLinux;
using velmora::kernel::DriveTypeFromFileSystem;
using velmora::kernel::LinuxPathToDos;

std::string Linux(std::u16string_view dos) { return DosPathToLinux(dos).value_or("<none>"); }

TEST(DosPaths, WithoutADosdevicesFolderTheOnlyDriveIsZAtTheRoot) {
    TempTree tree;
    ScopedEnv prefix("WINEPREFIX", tree.Path("no-prefix-here"));
    EXPECT_EQ(Linux(u"Z:\\tmp\\x.exe"), "/tmp/x.exe");
    EXPECT_EQ(Linux(u"z:/"), "/");
    EXPECT_EQ(Linux(u"C:\\windows"), "<none>");
    EXPECT_EQ(GetDriveTypeW(u"C:\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeW(u"Z:\\"), DRIVE_FIXED);
    EXPECT_EQ(LinuxPathToDos("/usr/lib/x.so"), u"Z:\\usr\\lib\\x.so");
}

class DosDevices : public ::testing::Test {
protected:
    TempTree tree;
    std::string driveC = tree.Folder("prefix/drive_c");
    std::string elsewhere = tree.Folder("data");
    ScopedEnv prefix{"WINEPREFIX", tree.Path("prefix")};
    void SetUp() override {
        tree.Folder("prefix/dosdevices");
        tree.Link("prefix/dosdevices/c:", "../drive_c");  // relative, as Wine writes it
        tree.Link("prefix/dosdevices/d:", elsewhere);
        tree.Link("prefix/dosdevices/e:", tree.Path("missing"));
        tree.Link("prefix/dosdevices/n:", driveC + "/nested");  // a drive inside another one
        tree.Folder("prefix/drive_c/Windows/System32");
        tree.File("prefix/drive_c/Windows/System32/Kernel32.DLL");
        tree.Folder("prefix/drive_c/nested");
        velmora::kernel::RefreshDrives();
    }
};

TEST_F(DosDevices, DosPathsMapThroughTheTable) {
    struct Case {
        std::u16string dos;
        std::string linux;
    } cases[] = {
        {u"C:\\", driveC},
        {u"c:", driveC},
        {u"C:\\Windows\\System32\\Kernel32.DLL", driveC + "/Windows/System32/Kernel32.DLL"},
        {u"C:/Windows/System32", driveC + "/Windows/System32"},
        {u"\\\\?\\C:\\Windows", driveC + "/Windows"},
        {u"C:\\a\\.\\..\\..\\..\\Windows", driveC + "/Windows"},  // never above the drive root
        {u"D:\\file.bin", elsewhere + "/file.bin"},
        {u"/usr/bin", "/usr/bin"},  // a Linux path stands as it is
        {u"Q:\\x", "<none>"},
        {u"Z:\\tmp", "<none>"},  // with a dosdevices folder, Z: exists only if it is listed
        {u"\\\\server\\share\\x", "<none>"},
        {u"", "<none>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Linux(c.dos), c.linux) << CString(c.dos).ToUtf8();
}

TEST_F(DosDevices, NamesFallBackToACaseInsensitiveLookUp) {
    EXPECT_EQ(Linux(u"C:\\WINDOWS\\system32\\kernel32.dll"), driveC + "/Windows/System32/Kernel32.DLL");
    // What does not exist is kept as written after the part that does.
    EXPECT_EQ(Linux(u"c:\\windows\\NewFolder\\New.txt"), driveC + "/Windows/NewFolder/New.txt");
    EXPECT_EQ(velmora::kernel::DosPathToLinuxExact(u"C:\\WINDOWS").value_or(""), driveC + "/WINDOWS");
}

TEST_F(DosDevices, LinuxPathsMapToTheClosestDrive) {
    EXPECT_EQ(LinuxPathToDos(driveC + "/Windows/System32"), u"C:\\Windows\\System32");
    EXPECT_EQ(LinuxPathToDos(driveC), u"C:\\");
    EXPECT_EQ(LinuxPathToDos(driveC + "/nested/x"), u"N:\\x");
    EXPECT_EQ(LinuxPathToDos(elsewhere + "/f"), u"D:\\f");
    EXPECT_EQ(LinuxPathToDos(tree.Path("prefix/drive_c/../drive_c/Windows")), u"C:\\Windows");
    // Under no drive: Z: followed by the whole path.
    EXPECT_EQ(LinuxPathToDos("/proc/self"), u"Z:\\proc\\self");
}

TEST_F(DosDevices, DriveTypesFollowTheTableAndTheFileSystem) {
    EXPECT_EQ(GetDriveTypeW(u"C:\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeW(u"c:"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeW(u"E:\\"), DRIVE_NO_ROOT_DIR);  // its folder is missing
    EXPECT_EQ(GetDriveTypeW(u"Q:\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeW(u"Z:\\"), DRIVE_NO_ROOT_DIR);

    struct Case {
        long magic;
        UINT type;
    } kinds[] = {
        {0x9660, DRIVE_CDROM},     {0x15013346, DRIVE_CDROM},  {0x6969, DRIVE_REMOTE},
        {0xFF534D42, DRIVE_REMOTE}, {0xFE534D42, DRIVE_REMOTE}, {0x517B, DRIVE_REMOTE},
        {0xEF53, DRIVE_FIXED},     {0x01021994, DRIVE_FIXED},  {0x9123683E, DRIVE_FIXED},
    };
    for (const auto& k : kinds)
        EXPECT_EQ(DriveTypeFromFileSystem(k.magic), k.type) << std::hex << k.magic;
}

TEST_F(DosDevices, ANewDriveCountsOnceTheTableIsRefreshed) {
    EXPECT_EQ(GetDriveTypeW(u"F:\\"), DRIVE_NO_ROOT_DIR);
    tree.Link("prefix/dosdevices/f:", elsewhere);
    velmora::kernel::RefreshDrives();
    EXPECT_EQ(GetDriveTypeW(u"F:\\"), DRIVE_FIXED);
}

}  // namespace

namespace {

// A backslash in a Linux name must not split the name in its DOS form: the file is found, shown
// and opened again under that form.
TEST(DosPaths, ABackslashInALinuxNameSurvivesTheRoundTrip) {
    TempTree tree;
    ScopedEnv prefix("WINEPREFIX", tree.Path("no-prefix-here"));
    velmora::kernel::RefreshDrives();
    tree.Folder("odd");
    const std::string linuxPath = tree.File("odd/a\\b.exe");
    const CString dos = LinuxPathToDos(linuxPath);
    EXPECT_EQ(dos.Find(u"a\\b"), -1);
    EXPECT_EQ(Linux(dos.Text()), linuxPath);

    CFileFind find;
    ASSERT_TRUE(find.FindFile((LinuxPathToDos(tree.Path("odd")) + u"\\*.*").GetString()));
    std::vector<CString> paths;
    for (BOOL more = TRUE; more;) {
        more = find.FindNextFile();
        if (!find.IsDots())
            paths.push_back(find.GetFilePath());
    }
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], dos);
    HANDLE h = CreateFileW(paths[0].GetString(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

}  // namespace
