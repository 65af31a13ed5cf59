#include "results/result_list.h"

#include "app/quorlin_dlg.h"
#include "platform/kernel/wide_text.h"
#include "verify/signer_name.h"

SORT_INFO g_SortInfo = {nullptr, 0, 0};
std::vector<CString> g_SortTexts;

void InsertResultColumns(CListCtrl& list) {
    list.InsertColumn(0, u"   文 件 名 称", LVCFMT_CENTER, 110);
    list.InsertColumn(1, u" 签   名 ", LVCFMT_CENTER, 70);
    list.InsertColumn(2, u" 签 名 公 司 ", LVCFMT_CENTER, 125);
    list.InsertColumn(3, u"             文\u3000\u3000\u3000件\u3000\u3000\u3000路\u3000\u3000\u3000径", LVCFMT_LEFT, 350);
}

int CQuorlinDlg::AddResultRow(const CString& strFileName, int nVerdict, const CString& strFullPath) {
    int nCount = m_list.GetItemCount();
    int nItem = m_list.InsertItem(nCount, strFileName);
    // A refused row stays missing; the texts must not land on another row.
    if (nItem < 0)
        return nItem;
    m_list.SetItemText(nItem, 1, nVerdict == 1 ? VERDICT_PASSED : VERDICT_FAILED);
    m_list.SetItemText(nItem, 2, g_szSignerName);
    m_list.SetItemText(nItem, 3, strFullPath);
    return nItem;
}

void CQuorlinDlg::OnLvnColumnclickResults(NMHDR* pNMHDR, LRESULT* pResult) {
    auto* pNMLV = reinterpret_cast<NMLISTVIEW*>(pNMHDR);
    if (!m_bScanFinished || pNMLV == nullptr) {
        *pResult = 0;
        return;
    }

    for (int i = 0; i < m_list.GetItemCount(); ++i)
        m_list.SetItemData(i, static_cast<DWORD_PTR>(i));

    int nColumn = pNMLV->iSubItem;
    if (nColumn == m_nSortColumn)
        m_bSortAscending = m_bSortAscending == 0 ? 1 : 0;
    else
        m_bSortAscending = 1;
    m_nSortColumn = nColumn;

    g_SortInfo.pList = &m_list;
    g_SortInfo.nColumn = nColumn;
    g_SortInfo.bAscending = m_bSortAscending;

    // The rows move while the list sorts, so the texts are read once, in full, before it starts.
    int nCount = m_list.GetItemCount();
    g_SortTexts.clear();
    g_SortTexts.reserve(static_cast<std::size_t>(nCount));
    for (int i = 0; i < nCount; ++i)
        g_SortTexts.push_back(m_list.GetItemText(i, nColumn));

    m_list.SortItems(CompareResultRows, reinterpret_cast<DWORD_PTR>(&g_SortInfo));

    *pResult = 0;
}

namespace {
const CString& SortText(LPARAM itemData) {
    static const CString empty;
    if (itemData < 0 || static_cast<std::size_t>(itemData) >= g_SortTexts.size())
        return empty;
    return g_SortTexts[static_cast<std::size_t>(itemData)];
}

int Ordinal(const CString& a, const CString& b) {
    int r = WideCompare(a.GetString(), b.GetString());
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}
} // namespace

int CALLBACK CompareResultRows(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort) {
    const auto* pInfo = reinterpret_cast<const SORT_INFO*>(lParamSort);
    if (pInfo == nullptr)
        return 0;
    const CString& strA = SortText(lParam1);
    const CString& strB = SortText(lParam2);
    return pInfo->bAscending ? Ordinal(strA, strB) : Ordinal(strB, strA);
}
