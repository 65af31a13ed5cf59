// CListCtrl: the report-view list control.
#pragma once

#include "platform/ui/list_view.h"
#include "platform/ui/wnd.h"

class CListCtrl : public CWnd {
public:
    // The complete extended style: every bit not in dwNewStyle is cleared.
    DWORD SetExtendedStyle(DWORD dwNewStyle);
    DWORD GetExtendedStyle() const;

    int InsertColumn(int nCol, LPCWSTR lpszColumnHeading, int nFormat = LVCFMT_LEFT, int nWidth = -1,
                     int nSubItem = -1);
    int GetItemCount() const;
    int InsertItem(int nItem, LPCWSTR lpszItem);
    int InsertItem(const LVITEMW* pItem);
    BOOL SetItemText(int nItem, int nSubItem, LPCWSTR lpszText);
    BOOL SetItemData(int nItem, DWORD_PTR dwData);
    DWORD_PTR GetItemData(int nItem) const;
    // The whole text, however long.
    CString GetItemText(int nItem, int nSubItem) const;
    int GetItemText(int nItem, int nSubItem, LPWSTR lpszText, int nLen) const;
    BOOL SortItems(PFNLVCOMPARE pfnCompare, DWORD_PTR dwData);
    BOOL DeleteAllItems();
    BOOL GetColumn(int nCol, LVCOLUMNW* pColumn) const;

    DECLARE_MESSAGE_MAP()
};
