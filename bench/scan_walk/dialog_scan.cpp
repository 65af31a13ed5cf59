#include "bench/scan_walk/dialog_scan.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "app/quorlin_dlg.h"
#include "platform/kernel/thread_api.h"
#include "platform/ui/ui_hooks.h"
#include "platform/ui/ui_testing.h"
#include "scan/scan_workers.h"

namespace {
std::unique_ptr<CQuorlinDlg> g_dialog;
}

bool StartDialogForScans(int argc, char** argv, const std::string& fixtures) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!fixtures.empty())
        setenv("VELMORA_TRUST_ANCHORS", (fixtures + "/pki/root-ca.pem").c_str(), 1);
    velmora::ui::EnsureWindowSystem(argc, argv);
    velmora::ui::SetMessageBoxHook([](HWND, const std::u16string&, const std::u16string&, UINT) { return IDOK; });
    g_dialog = std::make_unique<CQuorlinDlg>();
    return velmora::ui::testing::StartDialog(*g_dialog);
}

DialogScanResult RunDialogScan(const CString& folder) {
    CQuorlinDlg& dlg = *g_dialog;
    dlg.m_chkFailedOnly.SetCheck(BST_UNCHECKED);
    dlg.GetDlgItem(IDC_RADIO_FOLDER)->SendMessage(BM_CLICK);
    dlg.GetDlgItem(IDC_EDIT_FOLDER)->SetWindowText(folder);
    dlg.GetDlgItem(IDC_BTN_SCAN)->SendMessage(BM_CLICK);
    while (g_hScanThread != nullptr && !velmora::kernel::WaitForThreadReturn(g_hScanThread, 0))
        velmora::ui::PumpMessages(1);
    velmora::ui::PumpMessages(0);
    return {dlg.m_nFileCount, dlg.m_list.GetItemCount()};
}

void StopDialogForScans() {
    g_dialog->SendMessage(WM_CLOSE);
    velmora::ui::testing::FinishDialog(*g_dialog);
    g_dialog.reset();
}
