// The application object and the framework's entry.
#pragma once

#include "platform/ui/wnd.h"

class CWinThread : public CCmdTarget {
public:
    CWnd* m_pMainWnd = nullptr;
    virtual BOOL InitInstance();
    virtual int ExitInstance();
};

class CWinApp : public CWinThread {
public:
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;

    BOOL InitInstance() override;

    // Records the registry key name; nothing is read or written under it.
    void SetRegistryKey(LPCWSTR lpszRegistryKey);

    HICON LoadIcon(UINT nIDResource) const;

    // There is no help file: the help command is accepted and does nothing.
    afx_msg void OnHelp();

    LPCWSTR m_pszAppName = nullptr;
    LPCWSTR m_pszRegistryKey = nullptr;

    DECLARE_MESSAGE_MAP()

private:
    CString m_strAppName;
    CString m_strRegistryKey;
};

CWinApp* AfxGetApp();
void AfxEnableControlContainer();

// The framework's entry point: starts the window system, runs the application object's
// InitInstance and ends the process as the framework does. Never returns when InitInstance
// returns FALSE.
int AfxWinMain(int argc, char** argv);

// The message box of the application: the application's name as caption. Returns the button.
int AfxMessageBox(LPCWSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);
