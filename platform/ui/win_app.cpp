// The application object, the framework's entry point, message boxes and the common controls.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <mutex>
#include <unistd.h>

#include "platform/ui/resources.h"
#include "platform/ui/win_app.h"
#include "platform/ui/window_impl.h"

namespace {
CWinApp* g_pApp = nullptr;

std::mutex g_messageBoxLock;
velmora::ui::MessageBoxHook& MessageBoxHookSlot() {
    static velmora::ui::MessageBoxHook hook;
    return hook;
}
} // namespace

BOOL CWinThread::InitInstance() { return FALSE; }
int CWinThread::ExitInstance() { return 0; }

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCWSTR lpszAppName) {
    // Without a name of its own the application is called after the program file.
    m_strAppName = lpszAppName ? CString(lpszAppName) : CString(velmora::ui::detail::ProgramName());
    m_pszAppName = m_strAppName.GetString();
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this)
        g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

void CWinApp::SetRegistryKey(LPCWSTR lpszRegistryKey) {
    m_strRegistryKey = lpszRegistryKey ? lpszRegistryKey : u"";
    m_pszRegistryKey = m_strRegistryKey.GetString();
}

HICON CWinApp::LoadIcon(UINT nIDResource) const { return ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIDResource)); }

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() { return g_pApp; }

// There are no embedded controls of other makers to host; enabling the container is a no-op.
void AfxEnableControlContainer() {}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
    // Every control class is always available; the call only checks its argument.
    return picce && picce->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}

int AfxWinMain(int argc, char** argv) {
    velmora::ui::EnsureWindowSystem(argc, argv);
    CWinApp* app = AfxGetApp();
    int code = 0;
    if (app && app->InitInstance()) {
        code = QApplication::exec();
        code = app->ExitInstance();
    } else if (app) {
        code = app->ExitInstance();
    }
    // The process ends here, whatever other threads are still doing: a worker blocked on a call to
    // a window or inside a verification must neither hold the exit up nor run into objects that
    // static destruction already took apart.
    std::fflush(nullptr);
    _exit(code);
}

namespace velmora::ui {
void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> guard(g_messageBoxLock);
    MessageBoxHookSlot() = std::move(hook);
}
} // namespace velmora::ui

int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    std::u16string text = lpText ? lpText : u"";
    std::u16string caption = lpCaption ? lpCaption : u"Error";
    velmora::ui::MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> guard(g_messageBoxLock);
        hook = MessageBoxHookSlot();
    }
    if (hook)
        return hook(hWnd, text, caption, uType);
    using velmora::ui::detail::ToQString;
    if (velmora::ui::detail::EventLogEnabled()) {
        // A process under test records the box and answers it as the user would, with OK.
        velmora::ui::detail::LogEvent("message-box " + QString::fromStdU16String(caption).toStdString() + "|" +
                                      QString::fromStdU16String(text).toStdString());
        return IDOK;
    }
    velmora::ui::EnsureWindowSystem();
    auto show = [&]() -> LRESULT {
        QWidget* owner = velmora::ui::detail::IsLive(hWnd) ? hWnd->widget.data() : nullptr;
        QMessageBox box(QMessageBox::NoIcon, QString::fromStdU16String(caption), QString::fromStdU16String(text),
                        QMessageBox::Ok, owner ? owner->window() : nullptr);
        box.exec();
        return IDOK;
    };
    if (velmora::ui::IsWindowThread() || !velmora::ui::detail::IsLive(hWnd))
        return velmora::ui::IsWindowThread() ? static_cast<int>(show()) : IDOK;
    return static_cast<int>(velmora::ui::detail::RunOnWindowThread(hWnd, show));
}

int AfxMessageBox(LPCWSTR lpszText, UINT nType, UINT) {
    CWinApp* app = AfxGetApp();
    HWND owner = app && app->m_pMainWnd ? app->m_pMainWnd->GetSafeHwnd() : nullptr;
    LPCWSTR caption = app ? app->m_pszAppName : u"";
    return MessageBoxW(owner, lpszText, caption, nType);
}
