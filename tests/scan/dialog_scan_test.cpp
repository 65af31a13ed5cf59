// The scan end to end on the real main dialog (offscreen), with the real trust library over the
// generated trust fixtures.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "app/quorlin_dlg.h"
#include "platform/kernel/dos_paths.h"
#include "platform/kernel/file_find.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/thread_api.h"
#include "platform/ui/list_view.h"
#include "platform/ui/ui_hooks.h"
#include "platform/ui/ui_testing.h"
#include "scan/scan_workers.h"
#include "tests/app/listed_rows.h"
#include "tests/scan/scan_tree.h"
#include "verify/result_codes.h"
#include "verify/trust_binding.h"

using namespace scantest;
using velmora::ui::PumpMessages;

// No optical disc can be mounted where the tests run, so the drive a test names is reported as
// one; every other question goes to the kernel layer. The scan's call binds to this definition.
static std::atomic<char16_t> g_cdromDriveLetter{0};

extern "C" UINT GetDriveTypeW(LPCWSTR lpRootPathName) {
    static auto* real = reinterpret_cast<UINT (*)(LPCWSTR)>(dlsym(RTLD_NEXT, "GetDriveTypeW"));
    char16_t letter = g_cdromDriveLetter.load();
    if (letter && lpRootPathName && (lpRootPathName[0] | 0x20) == letter)
        return DRIVE_CDROM;
    return real(lpRootPathName);
}

namespace {

using listtest::Row;

class DialogScan : public ::testing::Test {
  protected:
    void SetUp() override {
        fixtures = FixturesFolder();
        if (fixtures.empty() || !fs::exists(fixtures / "pe/signed-pe32-sha256.exe"))
            GTEST_SKIP() << "trust fixtures not built";
        setenv("VELMORA_TRUST_ANCHORS", (fixtures / "pki/root-ca.pem").c_str(), 1);
        // The Windows directory with the fixture catalogs, on a drive of the test's own table.
        fs::copy(fixtures / "windows", d / "windows-fixture", fs::copy_options::recursive);
        setenv("WINDIR", Utf8(Dos('d', "windows-fixture")).c_str(), 1);
        velmora::ui::EnsureWindowSystem();
        velmora::ui::SetMessageBoxHook([this](HWND, const std::u16string& text, const std::u16string&, UINT) {
            messageBoxes.push_back(CString(text).ToUtf8());
            return IDOK;
        });
        dlg = std::make_unique<CQuorlinDlg>();
        ASSERT_TRUE(velmora::ui::testing::StartDialog(*dlg));
        PumpMessages(0);
        ASSERT_TRUE(messageBoxes.empty()) << messageBoxes.front();
    }

    void TearDown() override {
        if (!dlg)
            return;
        // Nothing of a scan may outlive its test: let a stopped worker run out.
        if (g_hScanThread != nullptr) {
            for (int i = 0; i < 2000 && !velmora::kernel::WaitForThreadReturn(g_hScanThread, 0); ++i)
                PumpMessages(5);
        }
        if (!velmora::ui::testing::DialogEnded(*dlg))
            dlg->SendMessage(WM_CLOSE);
        velmora::ui::testing::FinishDialog(*dlg);
        dlg.reset();
        PumpMessages(0);
        velmora::ui::SetMessageBoxHook(nullptr);
    }

    void Click(int id) { dlg->GetDlgItem(id)->SendMessage(BM_CLICK); }
    bool Enabled(int id) { return dlg->GetDlgItem(id)->IsWindowEnabled() != FALSE; }
    std::string Status() {
        CString text;
        dlg->GetDlgItem(IDC_STATUS)->GetWindowText(text);
        return text.ToUtf8();
    }
    void SetFilter(bool failedOnly) {
        dlg->m_chkFailedOnly.SetCheck(failedOnly ? BST_CHECKED : BST_UNCHECKED);
    }

    void StartFolderScan(const CString& folder) {
        Click(IDC_RADIO_FOLDER);
        dlg->GetDlgItem(IDC_EDIT_FOLDER)->SetWindowText(folder);
        Click(IDC_BTN_SCAN);
    }

    // Pumps the dialog until the worker has returned; false if it did not within a minute.
    bool WaitForWorker() {
        if (g_hScanThread == nullptr)
            return true;
        for (int i = 0; i < 12000; ++i) {
            if (velmora::kernel::WaitForThreadReturn(g_hScanThread, 0))
                return true;
            PumpMessages(5);
        }
        return false;
    }

    std::vector<Row> Rows() { return listtest::ListedRows(dlg->m_list); }

    void ClickHeader(int column) {
        NMLISTVIEW notice{};
        notice.hdr.hwndFrom = dlg->m_list.GetSafeHwnd();
        notice.hdr.idFrom = IDC_LIST_RESULTS;
        notice.hdr.code = LVN_COLUMNCLICK;
        notice.iItem = -1;
        notice.iSubItem = column;
        dlg->SendMessage(WM_NOTIFY, IDC_LIST_RESULTS, reinterpret_cast<LPARAM>(&notice));
    }

    // A folder of fixture images and other files, and the names in the order a search returns them.
    std::vector<std::string> MakeMixedFolder(const fs::path& folder) {
        for (const char* name : {"signed-pe32-sha256.exe", "unsigned-pe32.exe", "catalogued.exe",
                                 "tampered-section-1.exe", "signed-no-cn.exe", "signed-pe32plus-sha256.dll"})
            CopyFile(fixtures / "pe" / name, folder / name);
        CopyFile(fixtures / "pe/unsigned-pe32.exe", folder / "holiday.jpg"); // an executable all the same
        CopyFile(fixtures / "pe/signed-pe32-sha256.exe", folder / "signed.txt");
        WriteFile(folder / "dos-program.com", MzOnlyBytes());
        WriteFile(folder / "smallest.exe", PeBytes(313));
        WriteText(folder / "readme.txt", "not an executable");
        WriteFile(folder / "empty.exe", {});
        std::vector<std::string> order;
        CFileFind finder;
        CString pattern = Dos('d', "mixed\\*.*");
        for (BOOL more = finder.FindFile(pattern); more;) {
            more = finder.FindNextFile();
            if (!finder.IsDots())
                order.push_back(finder.GetFileName().ToUtf8());
        }
        return order;
    }

    Prefix prefix;
    fs::path d = prefix.AddDrive('d');
    fs::path fixtures;
    std::unique_ptr<CQuorlinDlg> dlg;
    std::vector<std::string> messageBoxes;
};

const std::string kFail = "未通过";
const std::string kPass = "通过";

} // namespace

TEST_F(DialogScan, FilterDecidesWhichVerifiedExecutablesGetRowsInWalkOrder) {
    std::vector<std::string> order = MakeMixedFolder(d / "mixed");
    const std::string folder = Utf8(Dos('d', "mixed")) + "\\";
    // What each file is, and the row it gets without the filter (an empty verdict: no row).
    std::map<std::string, Row> unfiltered = {
        {"signed-pe32-sha256.exe", {"", kPass, "Velmora Test Signer", ""}},
        {"signed-pe32plus-sha256.dll", {"", kPass, "Velmora Test Signer", ""}},
        {"signed.txt", {"", kPass, "Velmora Test Signer", ""}},
        {"catalogued.exe", {"", kPass, "Velmora Catalog Signer", ""}},
        {"unsigned-pe32.exe", {"", kFail, "", ""}},
        {"holiday.jpg", {"", kFail, "", ""}},
        {"tampered-section-1.exe", {"", kFail, "", ""}},
        {"smallest.exe", {"", kFail, "", ""}},
        {"signed-no-cn.exe", {"", "", "", ""}}, // trusted, but no signer name: another code, no row
        {"dos-program.com", {"", "", "", ""}},
        {"readme.txt", {"", "", "", ""}},
        {"empty.exe", {"", "", "", ""}},
    };
    ASSERT_EQ(order.size(), unfiltered.size());

    for (bool failedOnly : {true, false}) {
        SCOPED_TRACE(failedOnly ? "filter checked" : "filter clear");
        SetFilter(failedOnly);
        StartFolderScan(Dos('d', "mixed"));
        EXPECT_FALSE(Enabled(IDC_BTN_SCAN));
        EXPECT_FALSE(Enabled(IDC_CHECK_FAILED_ONLY));
        EXPECT_TRUE(Enabled(IDC_BTN_STOP));
        ASSERT_TRUE(WaitForWorker());

        std::vector<Row> expected;
        for (const auto& name : order) {
            Row row = unfiltered[name];
            if (row.verdict.empty() || (failedOnly && row.verdict != kFail))
                continue;
            row.name = name;
            row.path = folder + name;
            expected.push_back(row);
        }
        EXPECT_EQ(Rows(), expected);
        EXPECT_EQ(Status(), "扫描完成！共扫描12个文件。");
        EXPECT_TRUE(Enabled(IDC_BTN_SCAN));
        EXPECT_FALSE(Enabled(IDC_BTN_STOP));
        EXPECT_TRUE(Enabled(IDC_CHECK_FAILED_ONLY));
        EXPECT_EQ(dlg->m_bScanFinished, 1);
        EXPECT_EQ(dlg->m_nFileCount, 12);
    }
    EXPECT_TRUE(messageBoxes.empty());
}

TEST_F(DialogScan, EmptyFolderBoxStartsNothingUntilStopRestoresTheControls) {
    Click(IDC_RADIO_FOLDER);
    std::string before = Status();
    Click(IDC_BTN_SCAN);
    ASSERT_TRUE(WaitForWorker());
    PumpMessages(50);
    EXPECT_EQ(Status(), before);
    EXPECT_FALSE(Enabled(IDC_BTN_SCAN));
    EXPECT_TRUE(Enabled(IDC_BTN_STOP));
    EXPECT_FALSE(Enabled(IDC_CHECK_FAILED_ONLY));
    EXPECT_EQ(dlg->m_bScanFinished, 0);
    EXPECT_TRUE(messageBoxes.empty());

    Click(IDC_BTN_STOP);
    EXPECT_EQ(Status(), "扫描被停止！扫描0个文件。");
    EXPECT_TRUE(Enabled(IDC_BTN_SCAN));
    EXPECT_TRUE(Enabled(IDC_CHECK_FAILED_ONLY));
    EXPECT_EQ(dlg->m_bScanFinished, 1);
}

TEST_F(DialogScan, SingleFileAndMissingPathsCompleteWithTheirCounts) {
    WriteFile(d / "one/app.exe", PeBytes());
    struct Case {
        CString path;
        const char* status;
    } cases[] = {
        {Dos('d', "one/app.exe"), "扫描完成！共扫描1个文件。"},
        {Dos('d', "nowhere"), "扫描完成！共扫描0个文件。"},
        {Dos('q', "no-such-drive"), "扫描完成！共扫描0个文件。"},
    };
    for (const auto& c : cases) {
        StartFolderScan(c.path);
        ASSERT_TRUE(WaitForWorker());
        EXPECT_EQ(Status(), c.status) << Utf8(c.path);
        EXPECT_TRUE(Enabled(IDC_BTN_SCAN));
    }
}

TEST_F(DialogScan, SystemModeWalksTheWindowsDirectory) {
    fs::path windows = d / "Windows";
    CopyFile(fixtures / "pe/unsigned-pe32.exe", windows / "System32/bad.dll");
    CopyFile(fixtures / "pe/signed-pe32-sha256.exe", windows / "System32/good.dll");
    fs::copy(fixtures / "windows/System32/CatRoot", windows / "System32/CatRoot",
             fs::copy_options::recursive);
    WriteText(windows / "win.ini", "[windows]");
    int catalogFiles = 0;
    for (auto& e : fs::recursive_directory_iterator(windows / "System32/CatRoot"))
        catalogFiles += e.is_regular_file();
    setenv("WINDIR", Utf8(Dos('d', "Windows")).c_str(), 1);

    Click(IDC_RADIO_SYSTEM_DIR);
    Click(IDC_BTN_SCAN);
    ASSERT_NE(g_hScanThread, nullptr);
    ASSERT_TRUE(WaitForWorker());
    EXPECT_EQ(Status(), "扫描完成！共扫描" + std::to_string(3 + catalogFiles) + "个文件。");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"bad.dll", kFail, "", Utf8(Dos('d', "Windows/System32/bad.dll"))}}));

    // Without a Windows directory no worker starts; only Stop brings the controls back.
    setenv("WINDIR", (prefix.Root() / "not-there").c_str(), 1);
    Click(IDC_BTN_SCAN);
    EXPECT_EQ(g_hScanThread, nullptr);
    EXPECT_FALSE(Enabled(IDC_BTN_SCAN));
    EXPECT_TRUE(Rows().empty());
    Click(IDC_BTN_STOP);
    EXPECT_EQ(Status(), "扫描被停止！扫描0个文件。");
}

TEST_F(DialogScan, AllDrivesSkipsACdRomAndMissingDrivesAndSumsTheRest) {
    fs::path a = prefix.AddDrive('a');
    WriteFile(a / "never.exe", PeBytes());
    CopyFile(fixtures / "pe/unsigned-pe32.exe", prefix.AddDrive('b') / "b.exe");
    WriteText(d / "d1.txt", "x");
    WriteText(d / "sub/d2.txt", "x");
    prefix.AddBrokenDrive('e');
    fs::path z = prefix.AddDrive('z');
    WriteText(z / "z.txt", "x");
    prefix.AddDriveAt('y', d / "sub"); // a folder already walked through D: is not walked again
    fs::path disc = prefix.AddDrive('f');
    CopyFile(fixtures / "pe/unsigned-pe32.exe", disc / "setup.exe");
    WriteText(disc / "readme.txt", "x");
    g_cdromDriveLetter = u'f';
    ASSERT_EQ(GetDriveTypeW(u"F:\\"), DRIVE_CDROM);

    SetFilter(true);
    Click(IDC_RADIO_ALL_DRIVES);
    Click(IDC_BTN_SCAN);
    bool finished = WaitForWorker();
    g_cdromDriveLetter = 0;
    ASSERT_TRUE(finished);
    int onD = 0; // the fixture catalogs of the Windows directory lie on D: too
    for (auto& e : fs::recursive_directory_iterator(d / "windows-fixture"))
        onD += e.is_regular_file();
    EXPECT_EQ(Status(), "扫描完成！共扫描" + std::to_string(onD + 4) + "个文件。");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"b.exe", kFail, "", "B:\\b.exe"}}));
}

TEST_F(DialogScan, StopMidScanKeepsRowsAndNothingChangesAfterwards) {
    for (int i = 0; i < 4000; ++i) {
        fs::path file = d / "big" / ("f" + std::to_string(i / 100)) / ("x" + std::to_string(i) + ".exe");
        if (i % 10 == 0)
            CopyFile(fixtures / "pe/unsigned-pe32.exe", file);
        else
            WriteText(file, "plain");
    }
    StartFolderScan(Dos('d', "big"));
    for (int i = 0; i < 4000 && dlg->m_list.GetItemCount() < 3; ++i)
        PumpMessages(1);
    ASSERT_GE(dlg->m_list.GetItemCount(), 3) << "the scan found its first rows";

    Click(IDC_BTN_STOP);
    std::string stopped = Status();
    std::vector<Row> rows = Rows();
    int count = dlg->m_nFileCount;
    EXPECT_EQ(stopped, "扫描被停止！扫描" + std::to_string(count) + "个文件。");
    EXPECT_LT(count, 4000);
    EXPECT_TRUE(Enabled(IDC_BTN_SCAN));
    EXPECT_TRUE(Enabled(IDC_CHECK_FAILED_ONLY));
    EXPECT_FALSE(Enabled(IDC_BTN_STOP));
    for (const auto& row : rows) {
        EXPECT_EQ(row.verdict, kFail);
        EXPECT_FALSE(row.path.empty()) << "every row is complete";
    }

    for (int i = 0; i < 20; ++i)
        PumpMessages(50);
    EXPECT_EQ(Status(), stopped);
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(dlg->m_nFileCount, count);
    EXPECT_TRUE(Enabled(IDC_BTN_SCAN));
    EXPECT_FALSE(Enabled(IDC_BTN_STOP));

    // Sorting works on the rows that stayed: by path, descending on the second click.
    ClickHeader(3);
    ClickHeader(3);
    std::vector<Row> sorted = Rows();
    ASSERT_EQ(sorted.size(), rows.size());
    for (std::size_t i = 1; i < sorted.size(); ++i)
        EXPECT_GE(CString::FromUtf8(sorted[i - 1].path).Compare(CString::FromUtf8(sorted[i].path)), 0);

    // A new scan empties the list and counts from 0.
    WriteText(d / "small/a.txt", "x");
    StartFolderScan(Dos('d', "small"));
    EXPECT_TRUE(Rows().empty());
    ASSERT_TRUE(WaitForWorker());
    EXPECT_EQ(Status(), "扫描完成！共扫描1个文件。");
}

// Without executables the worker waits for the dialog only in its completion steps, so it walks on
// through Stop's wait and may reach them; neither its status lines nor its completion may land
// over the stop message.
TEST_F(DialogScan, StopWhileTheWorkerWalksOnLeavesTheStopMessage) {
    for (int i = 0; i < 3000; ++i)
        WriteText(d / "plain" / ("f" + std::to_string(i / 100)) / ("p" + std::to_string(i) + ".txt"), "x");
    StartFolderScan(Dos('d', "plain"));
    const std::string third = Utf8(Dos('d', "plain\\f2"));
    for (int i = 0; i < 4000 && Status().compare(0, third.size(), third) != 0; ++i)
        PumpMessages(1);
    Click(IDC_BTN_STOP);
    std::string stopped = Status();
    int count = dlg->m_nFileCount;
    EXPECT_EQ(stopped, "扫描被停止！扫描" + std::to_string(count) + "个文件。");
    ASSERT_TRUE(WaitForWorker());
    PumpMessages(50);
    EXPECT_EQ(Status(), stopped);
    EXPECT_EQ(dlg->m_nFileCount, count);
    EXPECT_TRUE(Enabled(IDC_BTN_SCAN));
    EXPECT_FALSE(Enabled(IDC_BTN_STOP));
}

TEST_F(DialogScan, CloseDuringAScanEndsItAndReleasesTheTrustLibrary) {
    for (int i = 0; i < 3000; ++i)
        CopyFile(fixtures / "pe/signed-pe32-sha256.exe", d / "many" / ("s" + std::to_string(i) + ".exe"));
    SetFilter(false);
    StartFolderScan(Dos('d', "many"));
    for (int i = 0; i < 4000 && dlg->m_list.GetItemCount() < 2; ++i)
        PumpMessages(1);
    ASSERT_GE(dlg->m_list.GetItemCount(), 2);
    HANDLE worker = velmora::kernel::DuplicateKernelHandle(g_hScanThread);

    auto start = std::chrono::steady_clock::now();
    dlg->SendMessage(WM_CLOSE);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2)) << "closing must not wait for the scan";
    EXPECT_TRUE(velmora::ui::testing::DialogEnded(*dlg));
    EXPECT_EQ(g_hWinTrust, nullptr);
    EXPECT_TRUE(messageBoxes.empty());
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(GetExitCodeThread(worker, &code));
    EXPECT_NE(code, STILL_ACTIVE) << "the worker counts as ended";

    // The stopped worker may still be finishing one verification; it must run out quietly.
    for (int i = 0; i < 2000 && !velmora::kernel::WaitForThreadReturn(worker, 0); ++i)
        PumpMessages(5);
    EXPECT_TRUE(velmora::kernel::WaitForThreadReturn(worker, 0));
    CloseHandle(worker);
}
