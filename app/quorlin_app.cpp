#include "app/quorlin_app.h"

#include "app/quorlin_dlg.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/named_mutex.h"

BEGIN_MESSAGE_MAP(CQuorlinApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CQuorlinApp::CQuorlinApp() {}
CQuorlinApp::~CQuorlinApp() {}

CQuorlinApp theApp;

BOOL CQuorlinApp::InitInstance() {
    INITCOMMONCONTROLSEX InitCtrls;
    InitCtrls.dwSize = sizeof(InitCtrls);
    InitCtrls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&InitCtrls);

    CWinApp::InitInstance();

    AfxEnableControlContainer();

    // The guard's handle stays open for the life of the process; ending the process releases it.
    HANDLE hMutex = CreateMutexW(nullptr, TRUE, u"NOREPEAT");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(hMutex);
        return FALSE;
    }

    SetRegistryKey(u"应用程序向导生成的本地应用程序");

    CQuorlinDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    // The dialog object goes when it leaves scope; the main window must not outlive it.
    m_pMainWnd = nullptr;
    return FALSE;
}
