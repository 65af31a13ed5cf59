// The dialog framework layer, driven offscreen through the same calls the system code makes.
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QTreeView>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <thread>

#include "platform/kernel/dos_paths.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/named_mutex.h"
#include "platform/kernel/thread_api.h"
#include "platform/shell/folder_browser.h"
#include "platform/ui/resources.h"
#include "platform/ui/ui_hooks.h"
#include "platform/ui/ui_testing.h"
#include "platform/ui/widgets.h"
#include "platform/ui/win_app.h"
#include "tests/ui/test_dialog.h"

using velmora::ui::PumpMessages;
namespace testing_ui = velmora::ui::testing;

namespace {

// The stop state the layer asks about: one worker thread, stopped or not.
std::atomic<bool> g_stopped{false};
std::atomic<std::thread::id> g_worker{};
bool IsCurrentStopped() { return g_stopped && std::this_thread::get_id() == g_worker.load(); }

class LayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        velmora::ui::EnsureWindowSystem();
        g_stopped = false;
        velmora::ui::SetStoppedThreadQuery(&IsCurrentStopped);
        ASSERT_TRUE(testing_ui::StartDialog(dlg));
    }
    void TearDown() override {
        testing_ui::FinishDialog(dlg);
        velmora::ui::SetStoppedThreadQuery(nullptr);
        PumpMessages(0);
    }
    QWidget* Widget(int id) { return ::GetDlgItem(dlg.m_hWnd, id)->widget; }
    int Checked(int id) { return static_cast<int>(dlg.GetDlgItem(id)->SendMessage(BM_GETCHECK)); }
    void Click(int id) { dlg.GetDlgItem(id)->SendMessage(BM_CLICK); }

    // Runs fn on a worker thread while this (the windows') thread keeps pumping, like a scan.
    template <class F> void OnWorker(F fn, int pumpMs = 200) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            g_worker = std::this_thread::get_id();
            fn();
            done = true;
        });
        for (int i = 0; i < pumpMs / 5 && !done; ++i)
            PumpMessages(5);
        worker.join();
    }

    std::string StaticText() {
        CString text;
        dlg.GetDlgItem(IDC_T_STATIC)->GetWindowText(text);
        return text.ToUtf8();
    }

    CTestDlg dlg;
};

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

// Sets the static text as fast as it can until its calls are refused, then makes a few more.
struct StatusHammer {
    HWND dialog = nullptr;
    std::atomic<int> calls{0};
    std::atomic<int> lastLanded{-1};
};

DWORD WINAPI HammerStatusLine(LPVOID parameter) {
    auto* hammer = static_cast<StatusHammer*>(parameter);
    int refused = 0;
    for (int i = 0; refused < 200; ++i) {
        CString text;
        text.Format(u"C:\\%d", i);
        if (::SetDlgItemTextW(hammer->dialog, IDC_T_STATIC, text))
            hammer->lastLanded = i;
        else
            ++refused;
        ++hammer->calls;
    }
    return 0;
}

TEST_F(LayerTest, MessagesReachTheDerivedMapItsBaseAndTheDefault) {
    Click(IDC_T_BUTTON);
    EXPECT_EQ(dlg.m_nButtonClicks, 1) << "a handler in the base class's map";
    EXPECT_EQ(dlg.SendMessage(WM_T_PING, 41), 42) << "a handler in the derived map";
    dlg.SetDlgItemText(IDC_T_STATIC, u"状态");
    CString text;
    dlg.GetDlgItem(IDC_T_STATIC)->GetWindowText(text);
    EXPECT_EQ(text, u"状态") << "unmapped messages get the control's own behaviour";
}

TEST_F(LayerTest, CallsOnControlsThatDoNotExistDoNothing) {
    CWnd* missing = dlg.GetDlgItem(4242);
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->m_hWnd, nullptr);
    missing->EnableWindow(FALSE);
    missing->ShowWindow(SW_HIDE);
    missing->SetWindowText(u"x");
    CString text;
    missing->GetWindowText(text);
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(missing->SendMessage(BM_GETCHECK), 0);
    EXPECT_EQ(dlg.SendMessage(WM_COMMAND, MAKEWPARAM(4242, BN_CLICKED), 0), 0);
    EXPECT_EQ(::SendMessageW(nullptr, WM_SETTEXT, 0, 0), 0);
    EXPECT_FALSE(::SetDlgItemTextW(dlg.m_hWnd, 4242, u"x"));
}

TEST_F(LayerTest, AutomaticRadioButtonsFormOneGroupUpToTheNextGroupMark) {
    Click(IDC_T_RADIO1);
    Click(IDC_T_RADIO_OTHER_GROUP);
    Click(IDC_T_RADIO2);
    EXPECT_EQ(Checked(IDC_T_RADIO1), 0);
    EXPECT_EQ(Checked(IDC_T_RADIO2), 1);
    EXPECT_EQ(Checked(IDC_T_RADIO_OTHER_GROUP), 1) << "behind a group mark: another group";
    Click(IDC_T_RADIO2);
    EXPECT_EQ(Checked(IDC_T_RADIO2), 1) << "a click never clears an automatic radio button";
    dlg.GetDlgItem(IDC_T_RADIO3)->SendMessage(BM_SETCHECK, BST_CHECKED);
    EXPECT_EQ(Checked(IDC_T_RADIO2), 1) << "BM_SETCHECK sets one button only";
    dlg.m_check.SetCheck(BST_CHECKED);
    EXPECT_EQ(dlg.m_check.GetCheck(), BST_CHECKED);
    Click(IDC_T_CHECK);
    EXPECT_EQ(dlg.m_check.GetCheck(), BST_UNCHECKED);
}

TEST_F(LayerTest, CallsFromAnotherThreadRunSynchronouslyOnTheWindowsThread) {
    LRESULT result = 0;
    CString edit;
    OnWorker([&] {
        result = dlg.SendMessage(WM_T_PING, 1);
        dlg.SetDlgItemText(IDC_T_EDIT, u"D:\\来自线程");
        dlg.GetDlgItem(IDC_T_BUTTON)->EnableWindow(FALSE);
        dlg.GetDlgItem(IDC_T_EDIT)->GetWindowText(edit);
    });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(dlg.m_pingThread, std::this_thread::get_id());
    EXPECT_EQ(edit, u"D:\\来自线程");
    EXPECT_FALSE(Widget(IDC_T_BUTTON)->isEnabled());
}

TEST_F(LayerTest, AStoppedThreadsCallsHaveNoEffect) {
    // Stopped before the call: refused at once.
    OnWorker([&] {
        g_stopped = true;
        EXPECT_EQ(dlg.SendMessage(WM_T_PING, 1), 0);
    });
    PumpMessages(20);
    EXPECT_EQ(dlg.m_pings, 0);

    // Stopped while blocked, with the windows' thread busy elsewhere (as in Stop's 100 ms wait):
    // the caller is released, and the queued call is dropped when the thread comes back.
    g_stopped = false;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        g_worker = std::this_thread::get_id();
        dlg.SendMessage(WM_T_PING, 1);
        dlg.SetDlgItemText(IDC_T_STATIC, u"停止后");
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    g_stopped = true;
    worker.join();
    PumpMessages(20);
    EXPECT_EQ(dlg.m_pings, 0);
    CString text;
    dlg.GetDlgItem(IDC_T_STATIC)->GetWindowText(text);
    EXPECT_TRUE(text.IsEmpty());
}

TEST_F(LayerTest, StaticTextFromAnotherThreadIsSetWhenTheCallReturnsAndRepaintsCoalesce) {
    // The windows' thread handles nothing meanwhile, yet the call returns with its text in place.
    std::thread([&] { EXPECT_TRUE(::SetDlgItemTextW(dlg.m_hWnd, IDC_T_STATIC, u"C:\\第一")); }).join();
    EXPECT_EQ(StaticText(), "C:\\第一");

    QWidget* label = Widget(IDC_T_STATIC);
    PaintCounter counter(label);
    CString seen;
    OnWorker(
        [&] {
            for (int i = 0; i < 5000; ++i) {
                CString text;
                text.Format(u"C:\\%d", i);
                dlg.SetDlgItemText(IDC_T_STATIC, text);
            }
            dlg.GetDlgItem(IDC_T_STATIC)->GetWindowText(seen);
        },
        2000);
    PumpMessages(60);
    EXPECT_EQ(seen, u"C:\\4999") << "another thread reads what was set";
    EXPECT_GE(counter.paints, 1) << "the change reaches the screen";
    EXPECT_LT(counter.paints, 500) << "one repaint at a time, not one per text";

    // What is painted is the text set last, as if the windows' thread had set it.
    QImage fromWorker = label->grab().toImage();
    dlg.SetDlgItemText(IDC_T_STATIC, u"x");
    dlg.SetDlgItemText(IDC_T_STATIC, u"C:\\4999");
    EXPECT_EQ(label->grab().toImage(), fromWorker);
}

TEST_F(LayerTest, NoStaticTextOfAStoppedWorkerLandsOnceTheStopHasReturned) {
    // Stopped at assorted moments, mostly while one of its calls is under way.
    for (int round = 0; round < 30; ++round) {
        StatusHammer hammer;
        hammer.dialog = dlg.m_hWnd;
        HANDLE worker = CreateThread(nullptr, 0, HammerStatusLine, &hammer, 0, nullptr);
        ASSERT_NE(worker, nullptr);
        while (hammer.calls < 50 + 41 * round)
            std::this_thread::yield();
        ASSERT_TRUE(TerminateThread(worker, 0));
        std::string atStop = StaticText();
        ASSERT_TRUE(velmora::kernel::WaitForThreadReturn(worker, 10000));
        PumpMessages(20);
        EXPECT_EQ(StaticText(), atStop) << "round " << round;
        EXPECT_EQ(atStop, "C:\\" + std::to_string(hammer.lastLanded.load()))
            << "the last call that reported success is the one that stands";
        CloseHandle(worker);
    }
}

TEST_F(LayerTest, DestroyingTheWindowReleasesAPendingCall) {
    std::atomic<LRESULT> result{-1};
    std::thread worker([&] { result = dlg.SendMessage(WM_T_PING, 1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    testing_ui::FinishDialog(dlg);
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dlg.m_pings, 0);
    EXPECT_EQ(dlg.SendMessage(WM_T_PING, 1), 0) << "a call to a window that is gone";
}

TEST_F(LayerTest, ListControlKeepsRowsTextsAndDataAndSortsByItemData) {
    CListCtrl& list = dlg.m_list;
    list.SetExtendedStyle(0xFF);
    list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    EXPECT_EQ(list.GetExtendedStyle(), 0x21u) << "the complete style is replaced";

    std::u16string longText(5000, u'长');
    longText += u"尾";
    EXPECT_EQ(list.InsertItem(0, u"b"), 0);
    EXPECT_EQ(list.InsertItem(100, u"c"), 1) << "past the end appends";
    EXPECT_EQ(list.InsertItem(0, u"a"), 0);
    EXPECT_EQ(list.InsertItem(-1, u"x"), -1);
    EXPECT_TRUE(list.SetItemText(2, 1, longText.c_str()));
    EXPECT_FALSE(list.SetItemText(9, 1, u"nowhere"));
    EXPECT_EQ(list.GetItemCount(), 3);
    EXPECT_EQ(list.GetItemText(2, 1).Text(), longText) << "text of any length comes back whole";
    EXPECT_EQ(list.GetItemText(1, 0), u"b");

    for (int i = 0; i < 3; ++i)
        list.SetItemData(i, static_cast<DWORD_PTR>(10 * i));
    EXPECT_EQ(list.GetItemData(2), 20u);
    static std::set<LPARAM> seen;
    seen.clear();
    auto descending = [](LPARAM a, LPARAM b, LPARAM sortData) -> int {
        seen.insert(a);
        seen.insert(b);
        EXPECT_EQ(sortData, 7);
        return a < b ? 1 : (a > b ? -1 : 0);
    };
    EXPECT_TRUE(list.SortItems(descending, 7));
    EXPECT_EQ(seen, (std::set<LPARAM>{0, 10, 20})) << "the callback gets item data, not positions";
    EXPECT_EQ(list.GetItemText(0, 0), u"c");
    EXPECT_EQ(list.GetItemText(0, 1).Text(), longText) << "a row's texts move together";
    EXPECT_EQ(list.GetItemText(2, 0), u"a");

    EXPECT_TRUE(list.DeleteAllItems());
    EXPECT_EQ(list.GetItemCount(), 0);
}

TEST_F(LayerTest, HeaderClicksArriveAsColumnClickNotifications) {
    auto* view = static_cast<ListViewWidget*>(Widget(IDC_T_LIST));
    emit view->horizontalHeader()->sectionClicked(1);
    emit view->horizontalHeader()->sectionClicked(0);
    EXPECT_EQ(dlg.m_columnClicks, (std::vector<int>{1, 0}));
}

TEST_F(LayerTest, TimersFireOnTheWindowsThreadUntilKilled) {
    EXPECT_EQ(dlg.SetTimer(5, 20, nullptr), 5u);
    for (int i = 0; i < 100 && dlg.m_timers.empty(); ++i)
        PumpMessages(10);
    ASSERT_FALSE(dlg.m_timers.empty());
    EXPECT_EQ(dlg.m_timers.front(), 5u);
    EXPECT_TRUE(dlg.KillTimer(5));
    std::size_t fired = dlg.m_timers.size();
    PumpMessages(80);
    EXPECT_EQ(dlg.m_timers.size(), fired);
    EXPECT_FALSE(dlg.KillTimer(5));
}

struct EndCase {
    const char* name;
    int key; // 0: WM_CLOSE instead of a key
    int focus;
    int expectedResult;
    int expectedCloses;
    int expectedButtonClicks;
};

TEST(DialogEnding, EscapeEnterAndCloseEndTheDialogAsTheFrameworkDoes) {
    const EndCase cases[] = {
        {"Escape is Cancel", Qt::Key_Escape, IDC_T_EDIT, IDCANCEL, 0, 0},
        {"Enter outside a push button is OK", Qt::Key_Return, IDC_T_EDIT, IDOK, 0, 0},
        {"Enter on a push button presses it", Qt::Key_Return, IDC_T_BUTTON, -1, 0, 1},
        {"WM_CLOSE goes through OnClose, then Cancel", 0, IDC_T_EDIT, IDCANCEL, 1, 0},
    };
    velmora::ui::EnsureWindowSystem();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTestDlg dlg;
        ASSERT_TRUE(testing_ui::StartDialog(dlg));
        QWidget* focus = ::GetDlgItem(dlg.m_hWnd, c.focus)->widget;
        focus->setFocus();
        if (c.key) {
            QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
            QCoreApplication::sendEvent(focus, &press);
        } else {
            dlg.SendMessage(WM_CLOSE);
        }
        EXPECT_EQ(testing_ui::DialogEnded(dlg), c.expectedResult != -1);
        EXPECT_EQ(testing_ui::DialogResult(dlg), c.expectedResult);
        EXPECT_EQ(dlg.m_nCloses, c.expectedCloses);
        EXPECT_EQ(dlg.m_nButtonClicks, c.expectedButtonClicks);
        testing_ui::FinishDialog(dlg);
    }
}

TEST(DialogEnding, DoModalRunsUntilTheDialogEndsAndRemovesItsWindows) {
    velmora::ui::EnsureWindowSystem();
    CTestDlg dlg;
    HWND seen = nullptr;
    QTimer::singleShot(50, [&] {
        seen = dlg.m_hWnd;
        dlg.PostMessage(WM_CLOSE);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_NE(seen, nullptr);
    EXPECT_FALSE(::IsWindow(seen));
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_list.m_hWnd, nullptr) << "bound controls are released with their windows";
}

TEST(Resources, TypesAndNamesMatchAsThePlatformMatchesThem) {
    struct Case {
        LPCWSTR name;
        LPCWSTR type;
        bool found;
    } cases[] = {
        {MAKEINTRESOURCEW(77), u"gif", true},   {MAKEINTRESOURCEW(77), u"GIF", true},
        {u"#77", u"gIf", true},                 {MAKEINTRESOURCEW(78), u"gif", false},
        {MAKEINTRESOURCEW(77), RT_BITMAP, false}, {u"odd", RT_BITMAP, true},
        {MAKEINTRESOURCEW(IDD_TEST_DIALOG), RT_DIALOG, true},
    };
    for (const auto& c : cases) {
        HRSRC info = FindResourceW(nullptr, c.name, c.type);
        EXPECT_EQ(info != nullptr, c.found);
        if (info && c.type != RT_DIALOG && c.type != RT_BITMAP) {
            EXPECT_EQ(std::string(static_cast<const char*>(LockResource(LoadResource(nullptr, info))),
                                  SizeofResource(nullptr, info)),
                      "GIF89a");
        }
    }
    EXPECT_EQ(LoadBitmapW(AfxGetInstanceHandle(), u"odd"), nullptr) << "bytes that are no bitmap";
}

TEST(Resources, TheProgramsIconAndBannerLoad) {
    velmora::ui::EnsureWindowSystem();
    HICON icon = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(128));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon, LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(128))) << "one shared icon";
    HBITMAP banner = LoadBitmapW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(146));
    ASSERT_NE(banner, nullptr);
    std::unique_ptr<HBITMAP__> ownedBanner(banner);
    EXPECT_EQ(banner->image.size(), QSize(690, 109));
    HRSRC manifest = FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    std::string text(static_cast<const char*>(LockResource(LoadResource(nullptr, manifest))), SizeofResource(nullptr, manifest));
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
}

TEST(NamedMutex, ASecondCreationOfAHeldNameReportsThatItExists) {
    // A lock folder of the test's own, so runs neither meet each other nor leave files behind.
    char folder[] = "/tmp/velmora-mutex-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const char* previous = std::getenv("XDG_RUNTIME_DIR");
    std::string saved = previous ? previous : "";
    setenv("XDG_RUNTIME_DIR", folder, 1);
    const std::u16string name = u"NOREPEAT";
    HANDLE first = CreateMutexW(nullptr, TRUE, name.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateMutexW(nullptr, TRUE, name.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    HANDLE other = CreateMutexW(nullptr, TRUE, (name + u"/其他").c_str());
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "names with any characters stay apart";
    CloseHandle(second);
    CloseHandle(first);
    HANDLE again = CreateMutexW(nullptr, TRUE, name.c_str());
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "the guard goes with its last handle";
    CloseHandle(again);
    CloseHandle(other);
    if (previous)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
    std::system((std::string("rm -rf ") + folder).c_str());
}

TEST(MessageBox, TheApplicationsNameIsTheCaption) {
    CWinApp app(u"测试程序");
    std::vector<std::u16string> seen;
    velmora::ui::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string& caption, UINT type) {
        seen.push_back(caption + u"|" + text + (type == MB_OK ? u"|ok" : u"|?"));
        return IDOK;
    });
    EXPECT_EQ(AfxMessageBox(u"程序初始化失败！"), IDOK);
    velmora::ui::SetMessageBoxHook(nullptr);
    EXPECT_EQ(seen, (std::vector<std::u16string>{u"测试程序|程序初始化失败！|ok"}));
}

TEST(FolderBrowser, AChoiceBecomesADosPathAndCancelGivesNothing) {
    std::u16string title;
    UINT flags = 0;
    bool choose = true;
    velmora::ui::SetFolderBrowserHook([&](const std::u16string& t, UINT f, std::string* path) {
        title = t;
        flags = f;
        *path = "/tmp";
        return choose;
    });
    WCHAR display[MAX_PATH] = {};
    BROWSEINFOW bi{};
    bi.pszDisplayName = display;
    bi.lpszTitle = u"请选择目标文件夹";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_BROWSEINCLUDEFILES;
    PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&bi);
    ASSERT_NE(pidl, nullptr);
    EXPECT_EQ(title, u"请选择目标文件夹");
    EXPECT_EQ(flags, 0x4001u);
    WCHAR path[MAX_PATH];
    EXPECT_TRUE(SHGetPathFromIDListW(pidl, path));
    EXPECT_EQ(CString(path), velmora::kernel::LinuxPathToDos("/tmp"));
    EXPECT_EQ(CString(display), u"tmp");
    CoTaskMemFree(pidl);
    choose = false;
    EXPECT_EQ(SHBrowseForFolderW(&bi), nullptr);
    velmora::ui::SetFolderBrowserHook(nullptr);
}

TEST(FolderBrowser, TheRealBrowserShowsItsTitleOverATreeOfTheFileSystem) {
    velmora::ui::EnsureWindowSystem();
    QString label;
    int rows = -1;
    QTimer::singleShot(200, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        if (auto* title = box->findChild<QLabel*>())
            label = title->text();
        if (auto* tree = box->findChild<QTreeView*>())
            rows = tree->model()->rowCount(tree->rootIndex());
        box->close();
    });
    BROWSEINFOW bi{};
    bi.lpszTitle = u"请选择目标文件夹";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_BROWSEINCLUDEFILES;
    EXPECT_EQ(SHBrowseForFolderW(&bi), nullptr) << "closing the browser is Cancel";
    EXPECT_EQ(label, QString::fromUtf16(u"请选择目标文件夹"));
    EXPECT_GE(rows, 0);
}

} // namespace
