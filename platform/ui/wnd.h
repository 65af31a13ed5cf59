// CWnd: a framework object attached to a window. Each control of a dialog is a window with an id;
// GetDlgItem finds it, and messages reach it through SendMessage or the member calls below. A
// call made on another thread than the window's runs synchronously on the window's thread.
#pragma once

#include <atomic>

#include "platform/kernel/cstring.h"
#include "platform/ui/message_map.h"
#include "platform/ui/win_user.h"

class CDataExchange;

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;

    // Read by other threads (a worker calling the dialog) while the window thread may end the
    // window, hence atomic.
    std::atomic<HWND> m_hWnd{nullptr};

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return GetSafeHwnd(); }

    BOOL Attach(HWND hWnd);
    HWND Detach();
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);

    // The object attached to a window, or the window's own temporary object when nothing is
    // attached. A window that does not exist gives an inert object on which every call does
    // nothing, so a call on a missing control cannot crash.
    static CWnd* FromHandle(HWND hWnd);

    CWnd* GetDlgItem(int nID) const;
    CWnd* GetParent() const;
    int GetDlgCtrlID() const;

    void SetWindowText(LPCWSTR lpszString);
    int GetWindowText(LPWSTR lpszStringBuf, int nMaxCount) const;
    void GetWindowText(CString& rString) const;
    int GetWindowTextLength() const;
    void SetDlgItemText(int nID, LPCWSTR lpszString);
    int GetDlgItemText(int nID, CString& rString) const;

    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    void GetClientRect(LPRECT lpRect) const;
    void Invalidate(BOOL bErase = TRUE);

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer);
    BOOL KillTimer(UINT_PTR nIDEvent);

    virtual BOOL DestroyWindow();

    // Data exchange between the controls and the members: UpdateData(FALSE) fills controls,
    // TRUE reads them back; both call DoDataExchange.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // The message path: WindowProc offers a message to the map (OnWndMsg) and hands what the map
    // does not take to DefWindowProc, the window's built-in behaviour.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);

    // The default handling of the message being handled now.
    LRESULT Default();

    afx_msg void OnPaint();
    afx_msg void OnClose();
    afx_msg void OnTimer(UINT_PTR nIDEvent);
    afx_msg HCURSOR OnQueryDragIcon();

    DECLARE_MESSAGE_MAP()
};

// Binds the control with the given id to a member object the first time it runs.
class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
