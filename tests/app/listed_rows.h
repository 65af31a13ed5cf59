// The main dialog's result list read back as text, one row a file: name, verdict, signer, path.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/ui/list_ctrl.h"

namespace listtest {

struct Row {
    std::string name, verdict, signer, path;
    bool operator==(const Row&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Row& r) {
    return out << "{" << r.name << " | " << r.verdict << " | " << r.signer << " | " << r.path << "}";
}

inline std::vector<Row> ListedRows(const CListCtrl& list) {
    std::vector<Row> rows;
    for (int i = 0; i < list.GetItemCount(); ++i)
        rows.push_back({list.GetItemText(i, 0).ToUtf8(), list.GetItemText(i, 1).ToUtf8(),
                        list.GetItemText(i, 2).ToUtf8(), list.GetItemText(i, 3).ToUtf8()});
    return rows;
}

}  // namespace listtest
