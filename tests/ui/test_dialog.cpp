#include "tests/ui/test_dialog.h"

#include "platform/ui/dialog_template.h"
#include "platform/ui/resources.h"

namespace {

using velmora::ui::DialogItemTemplate;
using velmora::ui::DialogTemplate;

const DialogItemTemplate kItems[] = {
    {u"Button", 0x50010000, 0, 5, 5, 50, 14, IDC_T_BUTTON, u"按钮", 0},
    {u"Button", 0x50000009, 0, 5, 25, 60, 10, IDC_T_RADIO1, u"一", 0},
    {u"Button", 0x50000009, 0, 5, 37, 60, 10, IDC_T_RADIO2, u"二", 0},
    {u"Button", 0x50000009, 0, 5, 49, 60, 10, IDC_T_RADIO3, u"三", 0},
    {u"Button", 0x50010003 | WS_GROUP, 0, 5, 61, 60, 10, IDC_T_CHECK, u"勾选", 0},
    {u"Button", 0x50000009, 0, 70, 61, 60, 10, IDC_T_RADIO_OTHER_GROUP, u"别组", 0},
    {u"Edit", 0x50810800, 0, 70, 5, 100, 14, IDC_T_EDIT, u"", 0},
    {u"Static", 0x50021000, 0, 70, 25, 100, 12, IDC_T_STATIC, u"", 0},
    {u"SysListView32", 0x50810801, 0, 5, 75, 200, 80, IDC_T_LIST, nullptr, 0},
};

const DialogTemplate kTemplate = {0x90CA00C8, 0, 0, 0, 220, 170, u"测试", u"MS Shell Dlg", 9, 0, 0, 1, kItems,
                                  static_cast<WORD>(sizeof kItems / sizeof kItems[0])};

const velmora::ui::ResourceEntry kEntries[] = {
    {RT_DIALOG, MAKEINTRESOURCEW(IDD_TEST_DIALOG), &kTemplate, sizeof kTemplate},
    {u"Gif", MAKEINTRESOURCEW(77), "GIF89a", 6},
    {RT_BITMAP, u"Odd", "not a bitmap", 12},
};

struct Registrar {
    Registrar() { velmora::ui::RegisterResources(kEntries, sizeof kEntries / sizeof kEntries[0]); }
} g_registrar;

} // namespace

BEGIN_MESSAGE_MAP(CTestBaseDlg, CDialog)
ON_BN_CLICKED(IDC_T_BUTTON, &CTestBaseDlg::OnButton)
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CTestDlg, CTestBaseDlg)
ON_NOTIFY(LVN_COLUMNCLICK, IDC_T_LIST, &CTestDlg::OnColumnClick)
ON_WM_TIMER()
ON_WM_CLOSE()
ON_MESSAGE(WM_T_PING, &CTestDlg::OnPing)
END_MESSAGE_MAP()

void CTestDlg::DoDataExchange(CDataExchange* pDX) {
    CTestBaseDlg::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_T_LIST, m_list);
    DDX_Control(pDX, IDC_T_CHECK, m_check);
}

BOOL CTestDlg::OnInitDialog() {
    CTestBaseDlg::OnInitDialog();
    m_list.InsertColumn(0, u"名", LVCFMT_LEFT, 80);
    m_list.InsertColumn(1, u"值", LVCFMT_CENTER, 80);
    return m_bInitResult;
}

void CTestDlg::OnColumnClick(NMHDR* pNMHDR, LRESULT* pResult) {
    m_columnClicks.push_back(reinterpret_cast<NMLISTVIEW*>(pNMHDR)->iSubItem);
    *pResult = 0;
}

void CTestDlg::OnTimer(UINT_PTR nIDEvent) {
    m_timers.push_back(nIDEvent);
    CTestBaseDlg::OnTimer(nIDEvent);
}

void CTestDlg::OnClose() {
    ++m_nCloses;
    CTestBaseDlg::OnClose();
}

LRESULT CTestDlg::OnPing(WPARAM wParam, LPARAM) {
    m_pingThread = std::this_thread::get_id();
    ++m_pings;
    return static_cast<LRESULT>(wParam + 1);
}
