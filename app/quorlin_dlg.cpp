#include "app/quorlin_dlg.h"

#include "platform/kernel/kernel_object.h"
#include "platform/kernel/thread_api.h"
#include "platform/shell/folder_browser.h"
#include "platform/ui/gdi.h"
#include "platform/ui/resources.h"
#include "platform/ui/win_app.h"
#include "results/result_list.h"
#include "scan/scan_workers.h"
#include "verify/result_codes.h"
#include "verify/trust_binding.h"

CQuorlinDlg::CQuorlinDlg(CWnd* pParent)
    : CDialog(IDD_MAIN_DIALOG, pParent), m_hIcon(AfxGetApp() ? AfxGetApp()->LoadIcon(IDR_MAINFRAME)
                                                             : LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_nScanMode(0), m_nFileCount(0), m_bUpdateAvailable(0),
      // The first blink step is left open; start from the plain frame.
      m_bBlinkPhase(0), m_bScanFinished(0), m_nSortColumn(0), m_bSortAscending(0) {}

CQuorlinDlg::~CQuorlinDlg() {}

void CQuorlinDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LIST_RESULTS, m_list);
    DDX_Control(pDX, IDC_INTRO_PICTURE, m_picture);
    DDX_Control(pDX, IDC_CHECK_FAILED_ONLY, m_chkFailedOnly);
}

BEGIN_MESSAGE_MAP(CQuorlinDlg, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_RADIO_SYSTEM_DIR, &CQuorlinDlg::OnBnClickedRadioSystemDir)
ON_BN_CLICKED(IDC_RADIO_ALL_DRIVES, &CQuorlinDlg::OnBnClickedRadioAllDrives)
ON_BN_CLICKED(IDC_RADIO_FOLDER, &CQuorlinDlg::OnBnClickedRadioFolder)
ON_BN_CLICKED(IDC_BTN_SCAN, &CQuorlinDlg::OnBnClickedScan)
ON_BN_CLICKED(IDC_BTN_BROWSE, &CQuorlinDlg::OnBnClickedBrowse)
ON_BN_CLICKED(IDC_BTN_STOP, &CQuorlinDlg::OnBnClickedStop)
ON_WM_CLOSE()
ON_WM_TIMER()
ON_NOTIFY(LVN_COLUMNCLICK, IDC_LIST_RESULTS, &CQuorlinDlg::OnLvnColumnclickResults)
END_MESSAGE_MAP()

BOOL CQuorlinDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    GetDlgItem(IDC_BANNER)->ShowWindow(SW_HIDE);

    // FIXME: load and play the intro animation (resource "gif" 143) here once the picture
    // control lands.

    SetTimer(TIMER_INTRO, 1667, nullptr);

    m_chkFailedOnly.SetCheck(BST_CHECKED);

    GetDlgItem(IDC_RADIO_SYSTEM_DIR)->SendMessage(BM_SETCHECK, BST_CHECKED, 0);
    m_nScanMode = SCAN_SYSTEM_DIR;

    SetDlgItemText(IDC_STATUS, u"等待用户操作！");

    GetDlgItem(IDC_BTN_STOP)->EnableWindow(FALSE);

    m_list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);

    InsertResultColumns(m_list);

    // FIXME: start the update check thread here once the update notice lands.

    if (BindTrustLibrary() != VR_OK) {
        AfxMessageBox(u"程序初始化失败！", MB_OK, 0);
        return FALSE;
    }
    return TRUE;
}

void CQuorlinDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

    int cxIcon = GetSystemMetrics(SM_CXICON);
    int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;

    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CQuorlinDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CQuorlinDlg::OnBnClickedRadioSystemDir() { m_nScanMode = SCAN_SYSTEM_DIR; }
void CQuorlinDlg::OnBnClickedRadioAllDrives() { m_nScanMode = SCAN_ALL_DRIVES; }
void CQuorlinDlg::OnBnClickedRadioFolder() { m_nScanMode = SCAN_FOLDER; }

void CQuorlinDlg::OnBnClickedBrowse() {
    WCHAR szDisplayName[MAX_PATH];
    BROWSEINFOW bi{};
    bi.hwndOwner = m_hWnd;
    bi.pidlRoot = nullptr;
    bi.pszDisplayName = szDisplayName;
    bi.lpszTitle = u"请选择目标文件夹";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_BROWSEINCLUDEFILES;
    bi.lpfn = nullptr;
    bi.lParam = 0;

    WCHAR szPath[MAX_PATH];
    szPath[0] = 0;

    PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&bi);
    if (pidl == nullptr)
        return;
    SHGetPathFromIDListW(pidl, szPath);
    SetDlgItemText(IDC_EDIT_FOLDER, szPath);
    // The chosen item is ours to free once its path has been taken.
    CoTaskMemFree(pidl);
}

void CQuorlinDlg::OnBnClickedStop() {
    GetDlgItem(IDC_BTN_SCAN)->EnableWindow(TRUE);
    GetDlgItem(IDC_BTN_STOP)->EnableWindow(FALSE);

    if (g_hScanThread != nullptr && WaitForSingleObject(g_hScanThread, 100) == WAIT_TIMEOUT)
        TerminateThread(g_hScanThread, 0);

    Sleep(100);

    CString strStatus;
    strStatus.Format(u"扫描被停止！扫描%d个文件。", m_nFileCount);
    SetDlgItemText(IDC_STATUS, strStatus);

    GetDlgItem(IDC_CHECK_FAILED_ONLY)->EnableWindow(TRUE);

    m_bScanFinished = 1;
}

void CQuorlinDlg::OnClose() {
    if (g_hScanThread != nullptr && WaitForSingleObject(g_hScanThread, 100) == WAIT_TIMEOUT)
        TerminateThread(g_hScanThread, 0);

    if (g_hScanThread != nullptr) {
        CloseHandle(g_hScanThread);
        // A closed handle must not be waited on or closed a second time.
        g_hScanThread = nullptr;
    }

    if (UnbindTrustLibrary() == VR_UNLOAD_FAILED)
        AfxMessageBox(u"释放内存异常!", MB_OK, 0);

    CDialog::OnClose();
}

void CQuorlinDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == TIMER_INTRO) {
        GetDlgItem(IDC_BANNER)->ShowWindow(SW_SHOW);
        GetDlgItem(IDC_INTRO_PICTURE)->ShowWindow(SW_HIDE);
        KillTimer(TIMER_INTRO);
    }

    // FIXME: one blink step of the About button when m_bUpdateAvailable is set and nIDEvent is
    // TIMER_BLINK, once the update notice lands.

    CDialog::OnTimer(nIDEvent);
}
