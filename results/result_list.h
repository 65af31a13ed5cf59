// The result list: its columns, the rows the scan appends, and sorting by a clicked column.
#pragma once

#include <vector>

#include "platform/ui/list_ctrl.h"

// The only two verdict words a row can carry.
inline constexpr const WCHAR* VERDICT_PASSED = u"通过";
inline constexpr const WCHAR* VERDICT_FAILED = u"未通过";

// What the comparison gets on every sort, through its caller value.
struct SORT_INFO {
    CListCtrl* pList;
    int nColumn;
    BOOL bAscending;
};
extern SORT_INFO g_SortInfo;

// The texts of the sorted column as the rows stood when the sort began, indexed by the item data
// each row was given just before; the comparison reads these instead of the moving rows.
extern std::vector<CString> g_SortTexts;

// Inserts the four columns (texts, formats and widths) into an empty report list.
void InsertResultColumns(CListCtrl& list);

// The list's comparison: -1, 0 or +1 for the rows whose item data are lParam1 and lParam2, by
// ordinal comparison of their texts, in the direction of the SORT_INFO that lParamSort points to.
int CALLBACK CompareResultRows(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort);
