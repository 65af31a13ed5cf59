#include <cstring>

#include "platform/kernel/kernel_object.h"
#include "platform/kernel/thread_api.h"
#include "platform/shell/special_folders.h"
#include "platform/ui/ui_hooks.h"
#include "scan/dialog/scan_dialog.h"
#include "scan/scan_workers.h"

namespace {

// The window layer must know which threads have been stopped, so that whatever a stopped worker
// still asks of the dialog is discarded, also when it is already queued.
void ConnectStopRequestsToWindows() {
    velmora::ui::SetStoppedThreadQuery(&velmora::kernel::IsCurrentThreadStopped);
    velmora::ui::SetStoppedThreadIdQuery(&GetCurrentThreadId, &velmora::kernel::IsThreadStopped);
}

}  // namespace

void CQuorlinDlg::OnBnClickedScan() {
    ConnectStopRequestsToWindows();

    GetDlgItem(IDC_CHECK_FAILED_ONLY)->EnableWindow(FALSE);
    GetDlgItem(IDC_BTN_SCAN)->EnableWindow(FALSE);
    GetDlgItem(IDC_BTN_STOP)->EnableWindow(TRUE);

    m_bScanFinished = 0;
    m_nFileCount = 0;

    m_list.DeleteAllItems();

    // The previous worker has completed or been stopped by now (Scan is disabled while one runs);
    // its handle is closed here rather than lost, so repeated scans hold no handles.
    if (g_hScanThread != nullptr)
        CloseHandle(g_hScanThread);
    g_hScanThread = nullptr;

    if (m_nScanMode == SCAN_SYSTEM_DIR) {
        std::memset(g_szSystemDir, 0, sizeof(g_szSystemDir));
        if (SHGetSpecialFolderPathW(nullptr, g_szSystemDir, CSIDL_WINDOWS, FALSE)) {
            g_hScanThread = CreateThread(nullptr, 0, ScanSystemDirThread, this, 0, nullptr);
            if (g_hScanThread != nullptr)
                return;
        }
    }
    if (m_nScanMode == SCAN_ALL_DRIVES) {
        g_hScanThread = CreateThread(nullptr, 0, ScanAllDrivesThread, this, 0, nullptr);
        if (g_hScanThread != nullptr)
            return;
    }
    if (m_nScanMode == SCAN_FOLDER)
        g_hScanThread = CreateThread(nullptr, 0, ScanFolderThread, this, 0, nullptr);
}
