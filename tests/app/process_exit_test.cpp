// The framework's exit: once InitInstance returns FALSE the process ends, even while another
// thread is blocked in a call to a window that is gone or still computing.
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "app/quorlin_dlg.h"
#include "platform/kernel/module_api.h"
#include "platform/ui/ui_hooks.h"
#include "platform/ui/win_app.h"

namespace {

class CBusyApp : public CWinApp {
public:
    CBusyApp() : CWinApp(u"velmora") {}
    BOOL InitInstance() override {
        velmora::kernel::RedirectModule(u"wintrust.dll", FAKE_WINTRUST_LIBRARY);
        CQuorlinDlg dlg;
        m_pMainWnd = &dlg;
        // One thread keeps calling the dialog, another one just runs; neither is ever stopped.
        new std::thread([&dlg] {
            for (;;)
                dlg.SetDlgItemText(IDC_STATUS, u"Z:\\busy");
        });
        new std::thread([] {
            volatile unsigned long spin = 0;
            for (;;)
                spin = spin + 1;
        });
        velmora::ui::SetMessageBoxHook([](HWND, const std::u16string&, const std::u16string&, UINT) { return IDOK; });
        // Cancel ends the dialog once its loop runs, as Escape would; OnClose is not involved.
        std::thread([&dlg] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            dlg.PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }).detach();
        dlg.DoModal();
        m_pMainWnd = nullptr;
        return FALSE;
    }
};

void RunBusyApplication() {
    static CBusyApp app;
    char name[] = "velmora";
    char* argv[] = {name, nullptr};
    AfxWinMain(1, argv);
}

TEST(ProcessExit, EndsCleanlyWithThreadsStillRunningWhenInitInstanceReturnsFalse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunBusyApplication(), ::testing::ExitedWithCode(0), "");
}

} // namespace
