// The main dialog from start-up to closing, offscreen, through the layer calls its code makes.
#include <QImage>
#include <atomic>
#include <thread>
#include <QWidget>
#include <cstdio>

#include <unistd.h>

#include "platform/kernel/dos_paths.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/list_view.h"
#include "platform/ui/window_impl.h"
#include "tests/app/dialog_fixture.h"

namespace {

// The program's own application object: message boxes take its name as their caption.
CWinApp g_app(u"velmora");

QWidget* WidgetOf(CWnd* wnd) {
    HWND h = wnd->m_hWnd;
    return h ? h->widget.data() : nullptr;
}

TEST_F(MainDialogTest, StartsInItsInitialState) {
    Start();
    EXPECT_EQ(Checked(IDC_CHECK_FAILED_ONLY), BST_CHECKED);
    EXPECT_EQ(Checked(IDC_RADIO_SYSTEM_DIR), BST_CHECKED);
    EXPECT_EQ(Checked(IDC_RADIO_ALL_DRIVES), BST_UNCHECKED);
    EXPECT_EQ(Checked(IDC_RADIO_FOLDER), BST_UNCHECKED);
    EXPECT_EQ(dlg.m_nScanMode, 1);
    EXPECT_FALSE(Item(IDC_BTN_STOP)->IsWindowEnabled());
    EXPECT_TRUE(Item(IDC_BTN_SCAN)->IsWindowEnabled());
    EXPECT_EQ(Text(IDC_STATUS), u"等待用户操作！");
    EXPECT_FALSE(Item(IDC_BANNER)->IsWindowVisible());
    EXPECT_TRUE(Item(IDC_INTRO_PICTURE)->IsWindowVisible());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(dlg.m_list.GetExtendedStyle(), LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    EXPECT_EQ(dlg.SendMessage(WM_QUERYDRAGICON), reinterpret_cast<LRESULT>(dlg.m_hIcon));
    EXPECT_NE(dlg.m_hIcon, nullptr);

    struct Column {
        const char16_t* text;
        int format;
        int width;
    } const columns[] = {
        {u"   文 件 名 称", LVCFMT_CENTER, 110},
        {u" 签   名 ", LVCFMT_CENTER, 70},
        {u" 签 名 公 司 ", LVCFMT_CENTER, 125},
        {u"             文\u3000\u3000\u3000件\u3000\u3000\u3000路\u3000\u3000\u3000径", LVCFMT_LEFT, 350},
    };
    EXPECT_EQ(dlg.m_list.SendMessage(LVM_GETCOLUMNCOUNT_PRIVATE), 4);
    for (int i = 0; i < 4; ++i) {
        WCHAR text[64] = {};
        LVCOLUMNW column{LVCF_TEXT | LVCF_FMT | LVCF_WIDTH, 0, 0, text, 64, 0};
        ASSERT_TRUE(dlg.m_list.GetColumn(i, &column));
        EXPECT_EQ(std::u16string(text), columns[i].text) << "column " << i;
        EXPECT_EQ(column.fmt, columns[i].format) << "column " << i;
        EXPECT_EQ(column.cx, columns[i].width) << "column " << i;
    }
}

TEST_F(MainDialogTest, TheBannerReplacesTheIntroPictureOnceAfter1667Milliseconds) {
    Start();
    velmora::ui::PumpMessages(1500);
    EXPECT_FALSE(Item(IDC_BANNER)->IsWindowVisible()) << "not before the intro pass is over";
    for (int i = 0; i < 200 && !Item(IDC_BANNER)->IsWindowVisible(); ++i)
        velmora::ui::PumpMessages(10);
    EXPECT_TRUE(Item(IDC_BANNER)->IsWindowVisible());
    EXPECT_FALSE(Item(IDC_INTRO_PICTURE)->IsWindowVisible());
    // Once only: the timer is gone, so an intro shown again stays.
    Item(IDC_INTRO_PICTURE)->ShowWindow(SW_SHOW);
    velmora::ui::PumpMessages(1800);
    EXPECT_TRUE(Item(IDC_INTRO_PICTURE)->IsWindowVisible());
}

TEST_F(MainDialogTest, ABindingFailureIsShownOnceAndTheDialogStaysUsable) {
    velmora::kernel::RedirectModule(u"wintrust.dll", "/nonexistent/libwintrust.so");
    Start();
    EXPECT_EQ(boxes, (std::vector<std::u16string>{u"程序初始化失败！"}));
    EXPECT_EQ(captions, (std::vector<std::u16string>{u"velmora"}));
    EXPECT_EQ(Text(IDC_STATUS), u"等待用户操作！");
    Click(IDC_RADIO_FOLDER);
    EXPECT_EQ(dlg.m_nScanMode, 3);
    Item(IDC_BTN_STOP)->EnableWindow(TRUE);
    Click(IDC_BTN_STOP);
    EXPECT_EQ(Text(IDC_STATUS), u"扫描被停止！扫描0个文件。");
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(MainDialogTest, ClosingReportsOnlyAnUnloadFailureAndAlwaysEnds) {
    struct Case {
        const char* name;
        bool freeFails;
        BOOL releaseResult;
        std::vector<std::u16string> boxes;
    } const cases[] = {
        {"released", false, TRUE, {}},
        {"unload fails", true, TRUE, {u"释放内存异常!"}},
        {"context release fails", false, FALSE, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CQuorlinDlg one;
        boxes.clear();
        ASSERT_TRUE(velmora::ui::testing::StartDialog(one));
        ASSERT_TRUE(boxes.empty());
        velmora::kernel::SetModuleFreeFails(u"wintrust.dll", c.freeFails);
        fake_trust::CurrentScript().releaseResult = c.releaseResult;
        one.SendMessage(WM_CLOSE);
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_TRUE(velmora::ui::testing::DialogEnded(one));
        EXPECT_EQ(velmora::ui::testing::DialogResult(one), IDCANCEL);
        velmora::ui::testing::FinishDialog(one);
        velmora::kernel::SetModuleFreeFails(u"wintrust.dll", false);
        fake_trust::CurrentScript().releaseResult = TRUE;
        UnbindTrustLibrary();
    }
}

TEST_F(MainDialogTest, RadioButtonsSetTheScanModeAndNothingElse) {
    Start();
    dlg.SetDlgItemText(IDC_EDIT_FOLDER, u"D:\\工作");
    const struct {
        int id;
        int mode;
    } steps[] = {{IDC_RADIO_FOLDER, 3}, {IDC_RADIO_ALL_DRIVES, 2}, {IDC_RADIO_SYSTEM_DIR, 1}, {IDC_RADIO_FOLDER, 3}};
    for (const auto& step : steps) {
        Click(step.id);
        EXPECT_EQ(dlg.m_nScanMode, step.mode);
        EXPECT_EQ(Checked(step.id), BST_CHECKED);
        EXPECT_EQ(Text(IDC_EDIT_FOLDER), u"D:\\工作");
        EXPECT_TRUE(Item(IDC_EDIT_FOLDER)->IsWindowEnabled());
        EXPECT_TRUE(Item(IDC_BTN_BROWSE)->IsWindowEnabled());
        EXPECT_EQ(Text(IDC_STATUS), u"等待用户操作！");
    }
    EXPECT_EQ(Checked(IDC_RADIO_ALL_DRIVES) + Checked(IDC_RADIO_SYSTEM_DIR), 0);
}

TEST_F(MainDialogTest, BrowseTakesTheChosenItemsPathAndCancelChangesNothing) {
    Start();
    dlg.SetDlgItemText(IDC_EDIT_FOLDER, u"之前");
    std::string answer;
    bool choose = false;
    velmora::ui::SetFolderBrowserHook([&](const std::u16string& title, UINT flags, std::string* path) {
        EXPECT_EQ(title, u"请选择目标文件夹");
        EXPECT_EQ(flags, 0x4001u);
        *path = answer;
        return choose;
    });
    Click(IDC_BTN_BROWSE);
    EXPECT_EQ(Text(IDC_EDIT_FOLDER), u"之前") << "cancel";

    char file[] = "/tmp/velmora-browse-XXXXXX";
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    answer = file;
    choose = true;
    Click(IDC_BTN_BROWSE);
    EXPECT_EQ(Text(IDC_EDIT_FOLDER), velmora::kernel::LinuxPathToDos(file)) << "a file is taken like a folder";
    EXPECT_EQ(dlg.m_nScanMode, 1) << "choosing does not select folder mode";
    std::remove(file);

    answer = "/" + std::string(300, 'x'); // no path fits the buffer
    Click(IDC_BTN_BROWSE);
    EXPECT_TRUE(Text(IDC_EDIT_FOLDER).IsEmpty());
}

TEST_F(MainDialogTest, StopWithoutAWorkerRestoresTheControls) {
    Start();
    Item(IDC_BTN_SCAN)->EnableWindow(FALSE);
    Item(IDC_BTN_STOP)->EnableWindow(TRUE);
    Item(IDC_CHECK_FAILED_ONLY)->EnableWindow(FALSE);
    Click(IDC_BTN_STOP);
    EXPECT_TRUE(Item(IDC_BTN_SCAN)->IsWindowEnabled());
    EXPECT_FALSE(Item(IDC_BTN_STOP)->IsWindowEnabled());
    EXPECT_TRUE(Item(IDC_CHECK_FAILED_ONLY)->IsWindowEnabled());
    EXPECT_EQ(Text(IDC_STATUS), u"扫描被停止！扫描0个文件。");
    EXPECT_EQ(dlg.m_bScanFinished, 1);
}

TEST_F(MainDialogTest, ClosingWhileAnotherThreadCallsTheDialogNeitherHangsNorCrashes) {
    Start();
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::thread worker([&] {
        while (!stop) {
            dlg.SetDlgItemText(IDC_STATUS, u"Z:\\path");
            dlg.GetDlgItem(IDC_BTN_SCAN)->EnableWindow(FALSE);
            ++calls;
        }
    });
    while (calls < 20)
        velmora::ui::PumpMessages(1);
    // The worker is blocked in a call right now, and the dialog's thread does not pump while it
    // closes.
    dlg.SendMessage(WM_CLOSE);
    EXPECT_TRUE(velmora::ui::testing::DialogEnded(dlg));
    velmora::ui::testing::FinishDialog(dlg);
    started = false;
    stop = true;
    worker.join();
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST_F(MainDialogTest, MinimisedTheIconIsPaintedCentred) {
    Start();
    QWidget* window = WidgetOf(&dlg);
    window->showMinimized();
    ASSERT_TRUE(dlg.IsIconic());
    const QRgb background = window->palette().color(QPalette::Window).rgb();
    const struct {
        int width, height;
    } sizes[] = {{101, 77}, {100, 76}, {33, 34}, {64, 64}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        window->setFixedSize(size.width, size.height);
        QImage image(size.width, size.height, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        window->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        const int x = (size.width - 32 + 1) / 2;
        const int y = (size.height - 32 + 1) / 2;
        const int midY = y + 16, midX = x + 16;
        // The icon's outermost pixels are its first covered ones; just outside lies background.
        EXPECT_NE(image.pixel(x, midY), background);
        EXPECT_NE(image.pixel(x + 31, midY), background);
        EXPECT_NE(image.pixel(midX, y), background);
        EXPECT_NE(image.pixel(midX, y + 31), background);
        if (x > 0) {
            EXPECT_EQ(image.pixel(x - 1, midY), background);
        }
        if (x + 32 < size.width) {
            EXPECT_EQ(image.pixel(x + 32, midY), background);
        }
        if (y > 0) {
            EXPECT_EQ(image.pixel(midX, y - 1), background);
        }
        if (y + 32 < size.height) {
            EXPECT_EQ(image.pixel(midX, y + 32), background);
        }
    }
}

TEST_F(MainDialogTest, RendersWithItsControlsWhereTheTemplatePutsThem) {
    Start();
    QWidget* window = WidgetOf(&dlg);
    EXPECT_EQ(window->size(), QSize(716, 604));
    EXPECT_EQ(window->windowTitle(), QString::fromUtf16(u"Velmora（v1.2）"));
    const struct {
        int id;
        int x, y, cx, cy;
    } places[] = {
        {IDC_GROUP_OPTIONS, 7, 70, 395, 60}, {IDC_EDIT_FOLDER, 103, 111, 244, 14}, {IDC_LIST_RESULTS, 11, 146, 386, 145},
        {IDC_BTN_SCAN, 195, 295, 58, 18},    {IDC_STATUS, 7, 320, 395, 18},        {IDC_CHECK_FAILED_ONLY, 12, 298, 146, 10},
    };
    for (const auto& p : places) {
        QWidget* w = WidgetOf(Item(p.id));
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), QRect(velmora::ui::DialogUnitsToPixels(p.x), velmora::ui::DialogUnitsToPixels(p.y),
                                       velmora::ui::DialogUnitsToPixels(p.cx), velmora::ui::DialogUnitsToPixels(p.cy)))
            << "control " << p.id;
    }
    EXPECT_EQ(WidgetOf(Item(IDC_BANNER))->size(), QSize(690, 109));
    window->grab().save(QStringLiteral(VELMORA_TEST_OUTPUT_DIR "/main-dialog-start.png"));
    Click(IDC_RADIO_FOLDER);
    dlg.SetDlgItemText(IDC_EDIT_FOLDER, u"Z:\\home\\用户\\下载");
    for (int i = 0; i < 300 && !Item(IDC_BANNER)->IsWindowVisible(); ++i)
        velmora::ui::PumpMessages(10);
    dlg.AddResultRow(u"setup.exe", 0, u"Z:\\home\\用户\\下载\\setup.exe");
    dlg.AddResultRow(u"工具.dll", 0, u"Z:\\home\\用户\\下载\\插件\\工具.dll");
    window->grab().save(QStringLiteral(VELMORA_TEST_OUTPUT_DIR "/main-dialog-banner.png"));
}

} // namespace
