// The main dialog: scan location, Scan and Stop, the result list, the banner and the status line.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/list_ctrl.h"
#include "res/resource.h"

constexpr UINT_PTR TIMER_BLINK = 1;
constexpr UINT_PTR TIMER_INTRO = 2;

class CQuorlinDlg : public CDialog {
public:
    explicit CQuorlinDlg(CWnd* pParent = nullptr);
    ~CQuorlinDlg() override;

    enum { IDD = IDD_MAIN_DIALOG };

    HICON m_hIcon;
    int m_nScanMode;
    int m_nFileCount;
    CListCtrl m_list;
    BOOL m_bUpdateAvailable;
    BOOL m_bBlinkPhase;
    // FIXME: becomes the animated picture control once it lands; until then the intro area stays
    // empty, exactly as when the intro animation cannot be loaded.
    CStatic m_picture;
    CButton m_chkFailedOnly;
    BOOL m_bScanFinished;
    int m_nSortColumn;
    BOOL m_bSortAscending;

    // Appends one result row (file name, verdict word, signer name, full path); its position, or
    // -1 when the list refused it. Called on the scan worker's thread.
    int AddResultRow(const CString& strFileName, int nVerdict, const CString& strFullPath);

    // The recursive walk of a scan (scan/), run on the scan worker's thread.
    void ScanDirectory(CString path);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnBnClickedRadioSystemDir();
    afx_msg void OnBnClickedRadioAllDrives();
    afx_msg void OnBnClickedRadioFolder();
    afx_msg void OnBnClickedScan();
    afx_msg void OnBnClickedBrowse();
    afx_msg void OnBnClickedStop();
    afx_msg void OnClose();
    afx_msg void OnTimer(UINT_PTR nIDEvent);
    afx_msg void OnLvnColumnclickResults(NMHDR* pNMHDR, LRESULT* pResult);

    DECLARE_MESSAGE_MAP()
};
