// A small dialog of the tests' own, with one control of each kind, registered as resource 900.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/list_ctrl.h"

constexpr UINT IDD_TEST_DIALOG = 900;
constexpr int IDC_T_BUTTON = 10;
constexpr int IDC_T_RADIO1 = 11;
constexpr int IDC_T_RADIO2 = 12;
constexpr int IDC_T_RADIO3 = 13;
constexpr int IDC_T_CHECK = 14;
constexpr int IDC_T_EDIT = 15;
constexpr int IDC_T_STATIC = 16;
constexpr int IDC_T_LIST = 17;
constexpr int IDC_T_RADIO_OTHER_GROUP = 18;
constexpr UINT WM_T_PING = WM_USER + 1;

// The base handles the button; the derived class handles the rest, so a button click proves
// that lookup goes on to the base class's map.
class CTestBaseDlg : public CDialog {
public:
    CTestBaseDlg() : CDialog(IDD_TEST_DIALOG) {}
    int m_nButtonClicks = 0;

protected:
    afx_msg void OnButton() { ++m_nButtonClicks; }
    DECLARE_MESSAGE_MAP()
};

class CTestDlg : public CTestBaseDlg {
public:
    CListCtrl m_list;
    CButton m_check;
    std::vector<int> m_columnClicks;
    std::vector<UINT_PTR> m_timers;
    std::atomic<int> m_pings{0};
    std::thread::id m_pingThread;
    int m_nCloses = 0;
    BOOL m_bInitResult = TRUE;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    afx_msg void OnColumnClick(NMHDR* pNMHDR, LRESULT* pResult);
    afx_msg void OnTimer(UINT_PTR nIDEvent);
    afx_msg void OnClose();
    afx_msg LRESULT OnPing(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()
};
