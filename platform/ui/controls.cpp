// The built-in behaviour of the controls: what each kind of window does with the messages the
// dialogs send it, and the control classes' member calls.
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <numeric>

#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"
#include "platform/ui/list_ctrl.h"
#include "platform/ui/widgets.h"

using namespace velmora::ui::detail;

// --- Widgets ----------------------------------------------------------------------------------

void AutoRadioButton::nextCheckState() {
    setChecked(true);
    if (!IsLive(m_hWnd))
        return;
    HWND parent = m_hWnd->parent;
    if (!IsLive(parent))
        return;
    // The group: back to the nearest control with the group mark (or the first), forward to the
    // next one with the mark.
    auto& siblings = parent->children;
    auto self = std::find(siblings.begin(), siblings.end(), m_hWnd);
    if (self == siblings.end())
        return;
    auto first = self;
    while (first != siblings.begin() && !((*first)->style & WS_GROUP))
        --first;
    auto last = self + 1;
    while (last != siblings.end() && !((*last)->style & WS_GROUP))
        ++last;
    for (auto it = first; it != last; ++it) {
        if (*it != m_hWnd && (*it)->kind == WindowKind::RadioButton && ((*it)->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
            if (auto* radio = qobject_cast<QRadioButton*>((*it)->widget.data()))
                radio->setChecked(false);
    }
}

StaticTextWidget::StaticTextWidget(HWND hWnd, DWORD style, QWidget* parent) : QWidget(parent), m_hWnd(hWnd), m_style(style) {}

void StaticTextWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect r = rect();
    if (m_style & SS_SUNKEN) {
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(palette().color(QPalette::Light));
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
        r.adjust(2, 2, -2, -2);
    }
    int align = Qt::AlignTop | Qt::TextSingleLine;
    switch (m_style & SS_TYPEMASK) {
    case SS_CENTER: align |= Qt::AlignHCenter; break;
    default: align |= Qt::AlignLeft; break;
    }
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QString text = QString::fromStdU16String(StaticTextOf(m_hWnd));
    painter.drawText(r, align, fontMetrics().elidedText(text, Qt::ElideNone, r.width()));
}

void GroupBoxWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const int top = metrics.height() / 2;
    QRect frame = rect().adjusted(0, top, -2, -2);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.translated(1, 1));
    if (m_title.isEmpty())
        return;
    QRect label(8, 0, metrics.horizontalAdvance(m_title) + 4, metrics.height());
    painter.fillRect(label, palette().color(QPalette::Window));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(label.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, m_title);
}

void BitmapWidget::SetImage(const QImage* image) {
    m_image = image ? *image : QImage();
    if (!m_image.isNull())
        resize(m_image.size()); // a bitmap static takes its picture's size
    update();
}

void BitmapWidget::paintEvent(QPaintEvent*) {
    if (m_image.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, m_image);
}

// --- List model -------------------------------------------------------------------------------

int ListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(rows.size()); }
int ListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns.size());
}

namespace {
Qt::Alignment AlignmentOf(const ListModel::Column& column, int index) {
    // The platform draws the first column left-aligned whatever its format says.
    if (index == 0)
        return Qt::AlignLeft | Qt::AlignVCenter;
    switch (column.format & 3) {
    case LVCFMT_CENTER: return Qt::AlignHCenter | Qt::AlignVCenter;
    case LVCFMT_RIGHT: return Qt::AlignRight | Qt::AlignVCenter;
    default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}
} // namespace

QVariant ListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows.size()) || index.column() >= static_cast<int>(columns.size()))
        return {};
    if (role == Qt::DisplayRole) {
        const auto& texts = rows[static_cast<std::size_t>(index.row())].texts;
        std::size_t c = static_cast<std::size_t>(index.column());
        return c < texts.size() ? QString::fromStdU16String(texts[c]) : QString();
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(AlignmentOf(columns[static_cast<std::size_t>(index.column())], index.column()));
    return {};
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns.size()))
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromStdU16String(columns[static_cast<std::size_t>(section)].text);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(AlignmentOf(columns[static_cast<std::size_t>(section)], section));
    return {};
}

int ListModel::InsertColumn(int index, Column column) {
    index = std::clamp(index, 0, static_cast<int>(columns.size()));
    beginInsertColumns(QModelIndex(), index, index);
    columns.insert(columns.begin() + index, std::move(column));
    for (auto& row : rows)
        if (static_cast<std::size_t>(index) < row.texts.size())
            row.texts.insert(row.texts.begin() + index, std::u16string());
    endInsertColumns();
    return index;
}

int ListModel::InsertRow(int index, std::u16string text, LPARAM data) {
    if (index < 0)
        return -1;
    index = std::min(index, static_cast<int>(rows.size()));
    beginInsertRows(QModelIndex(), index, index);
    Row row;
    row.texts.resize(std::max<std::size_t>(columns.size(), 1));
    row.texts[0] = std::move(text);
    row.data = data;
    rows.insert(rows.begin() + index, std::move(row));
    endInsertRows();
    return index;
}

bool ListModel::SetText(int row, int subItem, std::u16string text) {
    if (row < 0 || row >= static_cast<int>(rows.size()) || subItem < 0 ||
        subItem >= std::max(static_cast<int>(columns.size()), 1))
        return false;
    auto& texts = rows[static_cast<std::size_t>(row)].texts;
    if (texts.size() <= static_cast<std::size_t>(subItem))
        texts.resize(static_cast<std::size_t>(subItem) + 1);
    texts[static_cast<std::size_t>(subItem)] = std::move(text);
    QModelIndex cell = index(row, subItem);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
    return true;
}

void ListModel::DeleteRow(int row) {
    beginRemoveRows(QModelIndex(), row, row);
    rows.erase(rows.begin() + row);
    endRemoveRows();
}

void ListModel::DeleteAll() {
    beginResetModel();
    rows.clear();
    endResetModel();
}

void ListModel::Sort(PFNLVCOMPARE compare, LPARAM sortData) {
    // Sort positions, not the rows: the rows stay where they are until the order is known, so a
    // comparison that looks at the list sees it as it stood when the sort began.
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return compare(rows[a].data, rows[b].data, sortData) < 0;
    });
    std::vector<Row> sorted;
    sorted.reserve(rows.size());
    for (std::size_t i : order)
        sorted.push_back(std::move(rows[i]));
    emit layoutAboutToBeChanged();
    rows = std::move(sorted);
    emit layoutChanged();
}

ListViewWidget::ListViewWidget(HWND hWnd, QWidget* parent) : QTableView(parent), m_hWnd(hWnd) {
    setModel(&model);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 5);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setSortingEnabled(false);
    setWordWrap(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    ApplyExtendedStyle(0);
    QObject::connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (!IsLive(m_hWnd) || !m_hWnd->parent)
            return;
        NMLISTVIEW notice{};
        notice.hdr.hwndFrom = m_hWnd;
        notice.hdr.idFrom = static_cast<UINT_PTR>(m_hWnd->id);
        notice.hdr.code = LVN_COLUMNCLICK;
        notice.iItem = -1;
        notice.iSubItem = column;
        SendMessageW(m_hWnd->parent, WM_NOTIFY, static_cast<WPARAM>(m_hWnd->id), reinterpret_cast<LPARAM>(&notice));
    });
}

void ListViewWidget::ApplyExtendedStyle(DWORD style) {
    setShowGrid((style & LVS_EX_GRIDLINES) != 0);
    setSelectionBehavior((style & LVS_EX_FULLROWSELECT) ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

// --- Default window procedures ----------------------------------------------------------------

namespace {

int CopyText(const QString& text, LPWSTR out, int capacity) {
    if (!out || capacity <= 0)
        return 0;
    int n = std::min(static_cast<int>(text.size()), capacity - 1);
    std::copy_n(reinterpret_cast<const WCHAR*>(text.utf16()), n, out);
    out[n] = 0;
    return n;
}

int CopyText(const std::u16string& text, LPWSTR out, int capacity) {
    if (!out || capacity <= 0)
        return 0;
    int n = std::min(static_cast<int>(text.size()), capacity - 1);
    std::copy_n(text.data(), n, out);
    out[n] = 0;
    return n;
}

QString TextOf(HWND h) {
    if (h->kind == WindowKind::StaticText)
        return QString::fromStdU16String(StaticTextOf(h));
    QWidget* w = h->widget;
    if (!w)
        return {};
    switch (h->kind) {
    case WindowKind::Dialog: return w->windowTitle();
    case WindowKind::PushButton:
    case WindowKind::CheckBox:
    case WindowKind::RadioButton: return static_cast<QAbstractButton*>(w)->text();
    case WindowKind::GroupBox: return static_cast<GroupBoxWidget*>(w)->Title();
    case WindowKind::Edit: return static_cast<QLineEdit*>(w)->text();
    default: return w->windowTitle();
    }
}

void SetTextOf(HWND h, const QString& text) {
    if (h->kind == WindowKind::StaticText)
        return SetStaticTextHere(h, ToU16(text));
    QWidget* w = h->widget;
    if (!w)
        return;
    switch (h->kind) {
    case WindowKind::Dialog: w->setWindowTitle(text); break;
    case WindowKind::PushButton:
    case WindowKind::CheckBox:
    case WindowKind::RadioButton: static_cast<QAbstractButton*>(w)->setText(text); break;
    case WindowKind::GroupBox: static_cast<GroupBoxWidget*>(w)->SetTitle(text); break;
    case WindowKind::Edit: static_cast<QLineEdit*>(w)->setText(text); break;
    default: w->setWindowTitle(text); break;
    }
}

} // namespace

namespace velmora::ui::detail {

LRESULT DefaultWindowProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(h))
        return 0;
    QWidget* w = h->widget;
    if (h->kind == WindowKind::ListView) {
        LRESULT handled = ListViewProc(h, message, wParam, lParam);
        if (message >= LVM_FIRST && message < LVM_FIRST + 0x400)
            return handled;
    }
    switch (message) {
    case WM_SETTEXT:
        SetTextOf(h, ToQString(reinterpret_cast<LPCWSTR>(lParam)));
        return TRUE;
    case WM_GETTEXT: return CopyText(TextOf(h), reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH: return TextOf(h).size();
    case BM_GETCHECK:
        if (h->kind == WindowKind::CheckBox || h->kind == WindowKind::RadioButton)
            return static_cast<QAbstractButton*>(w)->isChecked() ? BST_CHECKED : BST_UNCHECKED;
        return 0;
    case BM_SETCHECK:
        if (h->kind == WindowKind::CheckBox || h->kind == WindowKind::RadioButton)
            static_cast<QAbstractButton*>(w)->setChecked(wParam == BST_CHECKED);
        return 0;
    case BM_CLICK:
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            button->click();
        return 0;
    case WM_SETICON: {
        HICON* slot = wParam == ICON_BIG ? &h->bigIcon : &h->smallIcon;
        HICON previous = *slot;
        *slot = reinterpret_cast<HICON>(lParam);
        if (w && w->isWindow()) {
            HICON shown = h->bigIcon ? h->bigIcon : h->smallIcon;
            w->setWindowIcon(shown ? QIcon(QPixmap::fromImage(shown->image)) : QIcon());
        }
        return reinterpret_cast<LRESULT>(previous);
    }
    case WM_ICONERASEBKGND: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        RECT rect{};
        if (dc && w) {
            rect.right = w->width();
            rect.bottom = w->height();
            QColor c = w->palette().color(QPalette::Window);
            CDC wrapper;
            wrapper.m_hDC = dc;
            wrapper.FillSolidRect(&rect, RGB(c.red(), c.green(), c.blue()));
            wrapper.m_hDC = nullptr;
        }
        return TRUE;
    }
    case WM_QUERYDRAGICON: return reinterpret_cast<LRESULT>(h->bigIcon);
    case WM_CLOSE:
        // A dialog closes as Cancel would; another window is destroyed.
        if (h->kind == WindowKind::Dialog)
            return SendMessageW(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        DestroyWindow(h);
        return 0;
    default: return 0;
    }
}

LRESULT ListViewProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* view = static_cast<ListViewWidget*>(h->widget.data());
    if (!view)
        return 0;
    ListModel& model = view->model;
    const int count = static_cast<int>(model.rows.size());
    switch (message) {
    case LVM_GETITEMCOUNT: return count;
    case LVM_DELETEALLITEMS: model.DeleteAll(); return TRUE;
    case LVM_DELETEITEM: {
        int row = static_cast<int>(wParam);
        if (row < 0 || row >= count)
            return FALSE;
        model.DeleteRow(row);
        return TRUE;
    }
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        DWORD previous = h->listExStyle;
        DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
        h->listExStyle = (previous & ~mask) | (static_cast<DWORD>(lParam) & mask);
        view->ApplyExtendedStyle(h->listExStyle);
        return previous;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE: return h->listExStyle;
    case LVM_INSERTCOLUMNW: {
        auto* column = reinterpret_cast<const LVCOLUMNW*>(lParam);
        if (!column)
            return -1;
        ListModel::Column c;
        if ((column->mask & LVCF_TEXT) && column->pszText)
            c.text = column->pszText;
        c.format = (column->mask & LVCF_FMT) ? column->fmt : LVCFMT_LEFT;
        c.width = (column->mask & LVCF_WIDTH) ? column->cx : 0;
        int index = model.InsertColumn(static_cast<int>(wParam), std::move(c));
        view->horizontalHeader()->resizeSection(index, model.columns[static_cast<std::size_t>(index)].width);
        return index;
    }
    case LVM_GETCOLUMNW: {
        auto* column = reinterpret_cast<LVCOLUMNW*>(lParam);
        int index = static_cast<int>(wParam);
        if (!column || index < 0 || index >= static_cast<int>(model.columns.size()))
            return FALSE;
        const auto& c = model.columns[static_cast<std::size_t>(index)];
        if (column->mask & LVCF_FMT)
            column->fmt = c.format;
        if (column->mask & LVCF_WIDTH)
            column->cx = view->horizontalHeader()->sectionSize(index);
        if (column->mask & LVCF_TEXT)
            CopyText(c.text, column->pszText, column->cchTextMax);
        if (column->mask & LVCF_SUBITEM)
            column->iSubItem = index;
        return TRUE;
    }
    case LVM_GETCOLUMNCOUNT_PRIVATE: return static_cast<LRESULT>(model.columns.size());
    case LVM_INSERTITEMW: {
        auto* item = reinterpret_cast<const LVITEMW*>(lParam);
        if (!item || item->iSubItem != 0)
            return -1;
        std::u16string text;
        if ((item->mask & LVIF_TEXT) && item->pszText && item->pszText != reinterpret_cast<LPWSTR>(-1))
            text = item->pszText;
        LPARAM data = (item->mask & LVIF_PARAM) ? item->lParam : 0;
        return model.InsertRow(item->iItem, std::move(text), data);
    }
    case LVM_SETITEMTEXTW: {
        auto* item = reinterpret_cast<const LVITEMW*>(lParam);
        if (!item)
            return FALSE;
        std::u16string text = item->pszText && item->pszText != reinterpret_cast<LPWSTR>(-1) ? item->pszText : u"";
        return model.SetText(static_cast<int>(wParam), item->iSubItem, std::move(text)) ? TRUE : FALSE;
    }
    case LVM_SETITEMW: {
        auto* item = reinterpret_cast<const LVITEMW*>(lParam);
        if (!item || item->iItem < 0 || item->iItem >= count)
            return FALSE;
        if (item->mask & LVIF_PARAM)
            model.rows[static_cast<std::size_t>(item->iItem)].data = item->lParam;
        if ((item->mask & LVIF_TEXT) && item->pszText)
            return model.SetText(item->iItem, item->iSubItem, item->pszText) ? TRUE : FALSE;
        return TRUE;
    }
    case LVM_GETITEMW: {
        auto* item = reinterpret_cast<LVITEMW*>(lParam);
        if (!item || item->iItem < 0 || item->iItem >= count)
            return FALSE;
        const auto& row = model.rows[static_cast<std::size_t>(item->iItem)];
        if (item->mask & LVIF_PARAM)
            item->lParam = row.data;
        if (item->mask & LVIF_TEXT) {
            std::size_t sub = static_cast<std::size_t>(std::max(item->iSubItem, 0));
            CopyText(sub < row.texts.size() ? row.texts[sub] : std::u16string(), item->pszText, item->cchTextMax);
        }
        return TRUE;
    }
    case LVM_GETITEMTEXTW: {
        auto* item = reinterpret_cast<LVITEMW*>(lParam);
        int row = static_cast<int>(wParam);
        if (!item)
            return 0;
        if (row < 0 || row >= count || item->iSubItem < 0) {
            CopyText(std::u16string(), item->pszText, item->cchTextMax);
            return 0;
        }
        const auto& texts = model.rows[static_cast<std::size_t>(row)].texts;
        std::size_t sub = static_cast<std::size_t>(item->iSubItem);
        return CopyText(sub < texts.size() ? texts[sub] : std::u16string(), item->pszText, item->cchTextMax);
    }
    case LVM_SORTITEMS: {
        auto compare = reinterpret_cast<PFNLVCOMPARE>(lParam);
        if (!compare)
            return FALSE;
        model.Sort(compare, static_cast<LPARAM>(wParam));
        return TRUE;
    }
    default: return 0;
    }
}

} // namespace velmora::ui::detail

// --- Control classes --------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CButton, CWnd)
END_MESSAGE_MAP()
BEGIN_MESSAGE_MAP(CStatic, CWnd)
END_MESSAGE_MAP()
BEGIN_MESSAGE_MAP(CEdit, CWnd)
END_MESSAGE_MAP()
BEGIN_MESSAGE_MAP(CListCtrl, CWnd)
END_MESSAGE_MAP()

void CButton::SetCheck(int nCheck) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(nCheck), 0); }
int CButton::GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK, 0, 0)); }

HBITMAP CStatic::SetBitmap(HBITMAP hBitmap) {
    HWND h = m_hWnd;
    return reinterpret_cast<HBITMAP>(RunOnWindowThread(h, [=]() -> LRESULT {
        HBITMAP previous = h->bitmap;
        h->bitmap = hBitmap;
        if (auto* bitmap = dynamic_cast<BitmapWidget*>(h->widget.data()))
            bitmap->SetImage(hBitmap ? &hBitmap->image : nullptr);
        return reinterpret_cast<LRESULT>(previous);
    }));
}

HBITMAP CStatic::GetBitmap() const {
    HWND h = m_hWnd;
    return reinterpret_cast<HBITMAP>(RunOnWindowThread(h, [=]() -> LRESULT { return reinterpret_cast<LRESULT>(h->bitmap); }));
}

DWORD CListCtrl::SetExtendedStyle(DWORD dwNewStyle) {
    return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(dwNewStyle)));
}
DWORD CListCtrl::GetExtendedStyle() const { return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE)); }

int CListCtrl::InsertColumn(int nCol, LPCWSTR lpszColumnHeading, int nFormat, int nWidth, int nSubItem) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_FMT;
    column.pszText = const_cast<LPWSTR>(lpszColumnHeading);
    column.fmt = nFormat;
    if (nWidth != -1) {
        column.mask |= LVCF_WIDTH;
        column.cx = nWidth;
    }
    if (nSubItem != -1) {
        column.mask |= LVCF_SUBITEM;
        column.iSubItem = nSubItem;
    }
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(nCol), reinterpret_cast<LPARAM>(&column)));
}

int CListCtrl::GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }

int CListCtrl::InsertItem(int nItem, LPCWSTR lpszItem) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = nItem;
    item.pszText = const_cast<LPWSTR>(lpszItem);
    return InsertItem(&item);
}

int CListCtrl::InsertItem(const LVITEMW* pItem) {
    if (!m_hWnd)
        return -1;
    return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(pItem)));
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, LPCWSTR lpszText) {
    LVITEMW item{};
    item.iSubItem = nSubItem;
    item.pszText = const_cast<LPWSTR>(lpszText);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(&item)));
}

BOOL CListCtrl::SetItemData(int nItem, DWORD_PTR dwData) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = nItem;
    item.lParam = static_cast<LPARAM>(dwData);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

DWORD_PTR CListCtrl::GetItemData(int nItem) const {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = nItem;
    SendMessage(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return static_cast<DWORD_PTR>(item.lParam);
}

int CListCtrl::GetItemText(int nItem, int nSubItem, LPWSTR lpszText, int nLen) const {
    LVITEMW item{};
    item.iSubItem = nSubItem;
    item.pszText = lpszText;
    item.cchTextMax = nLen;
    return static_cast<int>(SendMessage(LVM_GETITEMTEXTW, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(&item)));
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
    // Grow the buffer until the text fits with room to spare: only then is it known to be whole.
    std::vector<WCHAR> buffer;
    for (int size = 256;; size *= 2) {
        buffer.assign(static_cast<std::size_t>(size), 0);
        int copied = GetItemText(nItem, nSubItem, buffer.data(), size);
        if (copied < size - 1 || size > (1 << 28))
            return CString(buffer.data(), copied);
    }
}

BOOL CListCtrl::SortItems(PFNLVCOMPARE pfnCompare, DWORD_PTR dwData) {
    return static_cast<BOOL>(SendMessage(LVM_SORTITEMS, static_cast<WPARAM>(dwData), reinterpret_cast<LPARAM>(pfnCompare)));
}

BOOL CListCtrl::DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }

BOOL CListCtrl::GetColumn(int nCol, LVCOLUMNW* pColumn) const {
    return static_cast<BOOL>(SendMessage(LVM_GETCOLUMNW, static_cast<WPARAM>(nCol), reinterpret_cast<LPARAM>(pColumn)));
}

// --- Timers -----------------------------------------------------------------------------------

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    return static_cast<UINT_PTR>(RunOnWindowThread(hWnd, [=]() -> LRESULT {
        QWidget* w = hWnd->widget;
        if (!w)
            return 0;
        auto existing = hWnd->timers.find(nIDEvent);
        if (existing != hWnd->timers.end()) {
            delete existing->second;
            hWnd->timers.erase(existing);
        }
        auto* timer = new QTimer(w);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(static_cast<int>(std::max<UINT>(uElapse, 10)));
        QObject::connect(timer, &QTimer::timeout, timer, [hWnd, nIDEvent, lpTimerFunc] {
            if (lpTimerFunc)
                lpTimerFunc(hWnd, WM_TIMER, nIDEvent, 0);
            else
                DispatchHere(hWnd, WM_TIMER, nIDEvent, 0);
        });
        hWnd->timers[nIDEvent] = timer;
        timer->start();
        return static_cast<LRESULT>(nIDEvent ? nIDEvent : 1);
    }));
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    return static_cast<BOOL>(RunOnWindowThread(hWnd, [=]() -> LRESULT {
        auto it = hWnd->timers.find(uIDEvent);
        if (it == hWnd->timers.end())
            return FALSE;
        // The timer may be the one whose signal runs this very handler: let Qt delete it later.
        it->second->stop();
        it->second->deleteLater();
        hWnd->timers.erase(it);
        return TRUE;
    }));
}
