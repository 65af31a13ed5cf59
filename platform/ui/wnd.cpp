// CWnd and the window operations of the platform, over the window records of window.cpp.
#include <QWidget>
#include <mutex>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/win_app.h"
#include "platform/ui/window_impl.h"

using velmora::ui::detail::DispatchHere;
using velmora::ui::detail::IsLive;
using velmora::ui::detail::RunOnWindowThread;

namespace {

// The message being handled on this thread, innermost last, for CWnd::Default.
struct CurrentMessage {
    HWND hWnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
thread_local std::vector<CurrentMessage> t_messages;

// Handed out for windows that do not exist, so that GetDlgItem(missing)->EnableWindow() and the
// like do nothing instead of crashing.
CWnd& InertWindow() {
    static CWnd* inert = new CWnd;
    inert->m_hWnd = nullptr;
    return *inert;
}

std::mutex g_temporaryLock;

} // namespace

// --- CCmdTarget -----------------------------------------------------------------------------

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

bool CCmdTarget::DispatchThroughMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    UINT code = 0;
    UINT id = 0;
    if (message == WM_COMMAND) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
    } else if (message == WM_NOTIFY) {
        auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (!header)
            return false;
        code = header->code;
        id = static_cast<UINT>(header->idFrom);
    }
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->nMessage != 0; ++entry) {
            if (entry->nMessage != message)
                continue;
            if ((message == WM_COMMAND || message == WM_NOTIFY) && (entry->nCode != code || entry->nID != id))
                continue;
            LRESULT result = entry->pfn(this, wParam, lParam);
            if (pResult)
                *pResult = result;
            return true;
        }
    }
    return false;
}

// --- CWnd -----------------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd() {
    HWND h = m_hWnd;
    if (h && IsLive(h) && h->attached == this)
        h->attached = nullptr;
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!IsLive(hWnd) || m_hWnd)
        return FALSE;
    m_hWnd = hWnd;
    hWnd->attached = this;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    if (IsLive(h) && h->attached == this)
        h->attached = nullptr;
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
    if (!pParent)
        return FALSE;
    return Attach(::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID)));
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!IsLive(hWnd))
        return &InertWindow();
    std::lock_guard<std::mutex> guard(g_temporaryLock);
    if (CWnd* bound = hWnd->attached)
        return bound;
    if (!hWnd->temporary) {
        hWnd->temporary = std::make_unique<CWnd>();
        hWnd->temporary->m_hWnd = hWnd;
    }
    return hWnd->temporary.get();
}

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }

void CWnd::SetWindowText(LPCWSTR lpszString) { ::SetWindowTextW(m_hWnd, lpszString); }
int CWnd::GetWindowText(LPWSTR lpszStringBuf, int nMaxCount) const {
    return ::GetWindowTextW(m_hWnd, lpszStringBuf, nMaxCount);
}

void CWnd::GetWindowText(CString& rString) const {
    // The text may change between the two calls; the second one is bounded by the buffer anyway.
    int length = ::GetWindowTextLengthW(m_hWnd);
    std::vector<WCHAR> buffer(static_cast<std::size_t>(length) + 1, 0);
    ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
    rString = buffer.data();
}

int CWnd::GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
void CWnd::SetDlgItemText(int nID, LPCWSTR lpszString) { ::SetDlgItemTextW(m_hWnd, nID, lpszString); }
int CWnd::GetDlgItemText(int nID, CString& rString) const {
    GetDlgItem(nID)->GetWindowText(rString);
    return rString.GetLength();
}

BOOL CWnd::EnableWindow(BOOL bEnable) { return ::EnableWindow(m_hWnd, bEnable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
void CWnd::GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
void CWnd::Invalidate(BOOL bErase) { ::InvalidateRect(m_hWnd, nullptr, bErase); }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}
BOOL CWnd::KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }

BOOL CWnd::DestroyWindow() { return ::DestroyWindow(m_hWnd); }

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    t_messages.push_back({m_hWnd, message, wParam, lParam});
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    t_messages.pop_back();
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (DispatchThroughMap(message, wParam, lParam, pResult))
        return TRUE;
    // Commands a window does not handle go on to the application object, as in the framework's
    // command routing (the help command lives there).
    HWND h = m_hWnd;
    if (message == WM_COMMAND && h && h->kind == WindowKind::Dialog) {
        if (CWinApp* app = AfxGetApp(); app && app->DispatchThroughMap(message, wParam, lParam, pResult))
            return TRUE;
    }
    return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return velmora::ui::detail::DefaultWindowProc(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    if (t_messages.empty())
        return 0;
    const CurrentMessage& current = t_messages.back();
    return DefWindowProc(current.message, current.wParam, current.lParam);
}

void CWnd::OnPaint() { Default(); }
void CWnd::OnClose() { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (!pDX || !pDX->m_pDlgWnd || rControl.m_hWnd)
        return;
    rControl.SubclassDlgItem(static_cast<UINT>(nIDC), pDX->m_pDlgWnd);
}

// --- Window operations ----------------------------------------------------------------------

LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (Msg == WM_SETTEXT && velmora::ui::detail::SetStaticTextWithoutWaiting(hWnd, reinterpret_cast<LPCWSTR>(lParam), &result))
        return result;
    return RunOnWindowThread(hWnd, [=] { return DispatchHere(hWnd, Msg, wParam, lParam); });
}

BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(hWnd))
        return FALSE;
    velmora::ui::detail::PostToWindowThread(hWnd, [=] { DispatchHere(hWnd, Msg, wParam, lParam); });
    return TRUE;
}

BOOL IsWindow(HWND hWnd) { return IsLive(hWnd) ? TRUE : FALSE; }

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
    if (!IsLive(hDlg))
        return nullptr;
    // The children are fixed once the dialog is built, so any thread may look through them.
    for (HWND child : hDlg->children)
        if (child->id == nIDDlgItem && IsLive(child))
            return child;
    return nullptr;
}

int GetDlgCtrlID(HWND hWnd) { return IsLive(hWnd) ? hWnd->id : 0; }
HWND GetParent(HWND hWnd) { return IsLive(hWnd) ? hWnd->parent : nullptr; }

BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
    return static_cast<BOOL>(SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
}

int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = 0;
    return static_cast<int>(SendMessageW(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
}

int GetWindowTextLengthW(HWND hWnd) { return static_cast<int>(SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0)); }

BOOL SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item ? SetWindowTextW(item, lpString) : FALSE;
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
    return static_cast<BOOL>(RunOnWindowThread(hWnd, [=]() -> LRESULT {
        QWidget* w = hWnd->widget;
        if (!w)
            return 0;
        bool wasDisabled = !w->isEnabled();
        w->setEnabled(bEnable != FALSE);
        return wasDisabled ? TRUE : FALSE;
    }));
}

BOOL IsWindowEnabled(HWND hWnd) {
    return static_cast<BOOL>(RunOnWindowThread(hWnd, [=]() -> LRESULT {
        QWidget* w = hWnd->widget;
        return w && w->isEnabled() ? TRUE : FALSE;
    }));
}

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
    return static_cast<BOOL>(RunOnWindowThread(hWnd, [=]() -> LRESULT {
        QWidget* w = hWnd->widget;
        if (!w)
            return 0;
        bool wasVisible = !w->isHidden();
        switch (nCmdShow) {
        case SW_HIDE: w->hide(); break;
        case SW_MINIMIZE:
        case SW_SHOWMINIMIZED: w->showMinimized(); break;
        case SW_RESTORE:
        case SW_SHOWNORMAL: w->showNormal(); break;
        default: w->show(); break;
        }
        return wasVisible ? TRUE : FALSE;
    }));
}

BOOL IsWindowVisible(HWND hWnd) {
    return static_cast<BOOL>(RunOnWindowThread(hWnd, [=]() -> LRESULT {
        QWidget* w = hWnd->widget;
        return w && w->isVisible() ? TRUE : FALSE;
    }));
}

BOOL IsIconic(HWND hWnd) {
    return static_cast<BOOL>(RunOnWindowThread(hWnd, [=]() -> LRESULT {
        QWidget* w = hWnd->widget;
        return w && w->isWindow() && w->isMinimized() ? TRUE : FALSE;
    }));
}

BOOL GetClientRect(HWND hWnd, RECT* lpRect) {
    if (!lpRect)
        return FALSE;
    *lpRect = RECT{0, 0, 0, 0};
    RECT rect{0, 0, 0, 0};
    BOOL ok = static_cast<BOOL>(RunOnWindowThread(hWnd, [&]() -> LRESULT {
        QWidget* w = hWnd->widget;
        if (!w)
            return FALSE;
        rect.right = w->width();
        rect.bottom = w->height();
        return TRUE;
    }));
    *lpRect = rect;
    return ok;
}

BOOL InvalidateRect(HWND hWnd, const RECT*, BOOL) {
    return static_cast<BOOL>(RunOnWindowThread(hWnd, [=]() -> LRESULT {
        if (QWidget* w = hWnd->widget)
            w->update();
        return TRUE;
    }));
}

int GetSystemMetrics(int nIndex) {
    switch (nIndex) {
    case SM_CXICON:
    case SM_CYICON: return 32;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    default: return 0;
    }
}

LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return velmora::ui::detail::DefaultWindowProc(hWnd, Msg, wParam, lParam);
}
