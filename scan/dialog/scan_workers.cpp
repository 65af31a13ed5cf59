// The dialog's scan: its three workers, their completion steps, and the walk as the dialog runs
// it, with every entry shown in the status line and every verified executable routed to the
// result list by the filter check box.
//
// A worker is ended by a stop request (TerminateThread). It asks for it before every entry and
// before every verification; whatever it still asks of the dialog after the stop is discarded by
// the window layer, and the few plain writes it makes to the dialog's members are guarded so that
// none lands once the stop has returned.
#include <cstring>

#include "platform/kernel/dos_paths.h"
#include "platform/kernel/thread_api.h"
#include "platform/ui/ui_hooks.h"
#include "scan/dialog/scan_dialog.h"
#include "scan/directory_walk.h"
#include "scan/scan_workers.h"
#include "verify/result_codes.h"
#include "verify/signer_name.h"

HANDLE g_hScanThread = nullptr;
WCHAR g_szSystemDir[SYSTEM_DIR_CAPACITY];

namespace {

class DialogScanSink final : public ScanSink {
public:
    explicit DialogScanSink(CQuorlinDlg* pDlg) : m_pDlg(pDlg) {}

    bool ShouldStop() override { return velmora::kernel::IsCurrentThreadStopped(); }

    void ShowEntry(const CString& fullPath) override { m_pDlg->SetDlgItemText(IDC_STATUS, fullPath); }

    void CountFile() override {
        CQuorlinDlg* pDlg = m_pDlg;
        velmora::kernel::RunUnlessStopped([pDlg] { ++pDlg->m_nFileCount; });
    }

    void OnExecutable(const CString& name, const CString& fullPath) override {
        int r = VerifyOneFile(fullPath);
        // A stop that came during the verification: its result is of no further use.
        if (velmora::kernel::IsCurrentThreadStopped())
            return;
        int state = static_cast<int>(m_pDlg->m_chkFailedOnly.SendMessage(BM_GETCHECK, 0, 0));
        if (state == BST_CHECKED) {
            if (r == VR_NOT_TRUSTED)
                AddRow(name, 0, fullPath);
        } else if (state == BST_UNCHECKED) {
            if (r == VR_OK)
                AddRow(name, 1, fullPath);
            else if (r == VR_NOT_TRUSTED)
                AddRow(name, 0, fullPath);
        }
    }

private:
    // A row is four list calls. Made as one call on the dialog's thread, a Stop cannot fall
    // between them and leave a row with only its name: the row appears whole or not at all.
    // The signer name is per thread, so the worker's is handed to the dialog's thread with the row;
    // nothing else on that thread uses its own copy.
    void AddRow(const CString& name, int nVerdict, const CString& fullPath) {
        CQuorlinDlg* pDlg = m_pDlg;
        const WCHAR* signer = g_szSignerName;
        velmora::ui::CallOnWindowThread(pDlg->GetSafeHwnd(), [&]() -> LRESULT {
            std::memcpy(g_szSignerName, signer, sizeof(g_szSignerName));
            return pDlg->AddResultRow(name, nVerdict, fullPath);
        });
    }

    CQuorlinDlg* m_pDlg;
};

// One scan on the current thread: every ScanDirectory the worker makes belongs to it, so a
// folder reached again (through a link, or on another drive) is not entered twice.
class ScanSession {
public:
    explicit ScanSession(CQuorlinDlg* pDlg) : m_sink(pDlg), m_walk(m_sink), m_outer(t_current) { t_current = this; }
    ~ScanSession() { t_current = m_outer; }
    ScanSession(const ScanSession&) = delete;
    ScanSession& operator=(const ScanSession&) = delete;

    static ScanSession* Current() { return t_current; }
    DirectoryWalk& Walk() { return m_walk; }

private:
    static thread_local ScanSession* t_current;
    DialogScanSink m_sink;
    DirectoryWalk m_walk;
    ScanSession* m_outer;
};

thread_local ScanSession* ScanSession::t_current = nullptr;

DWORD RunCompletionSteps(CQuorlinDlg* pDlg) {
    if (velmora::kernel::IsCurrentThreadStopped())
        return 0;
    pDlg->GetDlgItem(IDC_BTN_STOP)->EnableWindow(FALSE);
    pDlg->GetDlgItem(IDC_BTN_SCAN)->EnableWindow(TRUE);
    CString text;
    velmora::kernel::RunUnlessStopped([&] { text.Format(u"扫描完成！共扫描%d个文件。", pDlg->m_nFileCount); });
    pDlg->SetDlgItemText(IDC_STATUS, text);
    pDlg->GetDlgItem(IDC_CHECK_FAILED_ONLY)->EnableWindow(TRUE);
    velmora::kernel::RunUnlessStopped([pDlg] { pDlg->m_bScanFinished = 1; });
    return 1;
}

}  // namespace

void CQuorlinDlg::ScanDirectory(CString path) {
    if (ScanSession* session = ScanSession::Current()) {
        session->Walk().Walk(path);
        return;
    }
    ScanSession session(this);
    session.Walk().Walk(path);
}

DWORD WINAPI ScanSystemDirThread(LPVOID pParam) {
    auto* pDlg = static_cast<CQuorlinDlg*>(pParam);
    CString path;
    velmora::kernel::RunUnlessStopped([&] { path = g_szSystemDir; });
    if (path.IsEmpty())
        return 0;
    ScanSession session(pDlg);
    pDlg->ScanDirectory(path);
    return RunCompletionSteps(pDlg);
}

DWORD WINAPI ScanAllDrivesThread(LPVOID pParam) {
    auto* pDlg = static_cast<CQuorlinDlg*>(pParam);
    ScanSession session(pDlg);
    for (int i = 1; i < 26; ++i) {
        if (velmora::kernel::IsCurrentThreadStopped())
            return 0;
        CString root;
        root.Format(u"%c:\\", u'A' + i);
        UINT type = GetDriveTypeW(root);
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_CDROM)
            continue;
        pDlg->ScanDirectory(root);
    }
    return RunCompletionSteps(pDlg);
}

DWORD WINAPI ScanFolderThread(LPVOID pParam) {
    auto* pDlg = static_cast<CQuorlinDlg*>(pParam);
    CString path;
    pDlg->GetDlgItem(IDC_EDIT_FOLDER)->GetWindowText(path);
    if (path.IsEmpty())
        return 0;
    ScanSession session(pDlg);
    pDlg->ScanDirectory(path);
    return RunCompletionSteps(pDlg);
}
