// Dialogs from templates: building the windows, the initial message, the modal loop and the
// framework's OK, Cancel and close handling.
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFont>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>
#include <cmath>

#include "platform/ui/controls.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/gdi.h"
#include "platform/ui/list_ctrl.h"
#include "platform/ui/resources.h"
#include "platform/ui/ui_testing.h"
#include "platform/ui/widgets.h"

using namespace velmora::ui::detail;
using velmora::ui::DialogItemTemplate;
using velmora::ui::DialogTemplate;
using velmora::ui::DialogUnitsToPixels;

// --- The dialog's own widget ------------------------------------------------------------------

void DialogWidget::paintEvent(QPaintEvent*) {
    if (!IsLive(m_hWnd))
        return;
    QWidget* previous = PaintingWidget();
    SetPaintingWidget(this);
    DispatchHere(m_hWnd, WM_PAINT, 0, 0);
    SetPaintingWidget(previous);
}

void DialogWidget::closeEvent(QCloseEvent* event) {
    // The window manager's close box becomes WM_CLOSE; the dialog decides whether it ends.
    event->ignore();
    if (IsLive(m_hWnd))
        DispatchHere(m_hWnd, WM_CLOSE, 0, 0);
}

void DialogWidget::keyPressEvent(QKeyEvent* event) {
    if (!IsLive(m_hWnd))
        return;
    switch (event->key()) {
    case Qt::Key_Escape: DispatchHere(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter presses the push button that has the focus, otherwise the default command, OK.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
            return;
        }
        DispatchHere(m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
    case Qt::Key_F1: DispatchHere(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0); return;
    default: QWidget::keyPressEvent(event);
    }
}

// --- Building a dialog ------------------------------------------------------------------------

namespace {

bool SameClass(LPCWSTR a, const char16_t* b) {
    if (!a)
        return false;
    for (; *a && *b; ++a, ++b) {
        char16_t x = *a >= u'A' && *a <= u'Z' ? static_cast<char16_t>(*a + 32) : *a;
        char16_t y = *b >= u'A' && *b <= u'Z' ? static_cast<char16_t>(*b + 32) : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

QFont DialogFont(const DialogTemplate& t) {
    // "MS Shell Dlg" and its relatives are the desktop's sans font; CJK glyphs come from the
    // fallback family.
    QFont font;
    font.setFamilies({QStringLiteral("Sans Serif"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setStyleHint(QFont::SansSerif);
    int points = t.pointSize ? t.pointSize : 9;
    font.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
    if (t.weight >= 600)
        font.setBold(true);
    font.setItalic(t.italic != 0);
    return font;
}

HWND CreateChild(HWND dialog, const DialogItemTemplate& item) {
    auto record = std::make_unique<HWND__>();
    record->style = item.style;
    record->exStyle = item.exStyle;
    record->id = item.id;
    record->parent = dialog;
    QWidget* parent = dialog->widget;
    QString text = ToQString(item.text);
    HWND h = nullptr;
    QWidget* w = nullptr;

    if (SameClass(item.windowClass, u"Button")) {
        switch (item.style & BS_TYPEMASK) {
        case BS_AUTOCHECKBOX:
        case BS_CHECKBOX: record->kind = WindowKind::CheckBox; break;
        case BS_AUTORADIOBUTTON:
        case BS_RADIOBUTTON: record->kind = WindowKind::RadioButton; break;
        case BS_GROUPBOX: record->kind = WindowKind::GroupBox; break;
        default: record->kind = WindowKind::PushButton; break;
        }
        h = RegisterWindow(std::move(record));
        switch (h->kind) {
        case WindowKind::CheckBox: w = new QCheckBox(text, parent); break;
        case WindowKind::RadioButton: {
            auto* radio = new AutoRadioButton(h, parent);
            radio->setText(text);
            w = radio;
            break;
        }
        case WindowKind::GroupBox: w = new GroupBoxWidget(text, parent); break;
        default: w = new QPushButton(text, parent); break;
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            QObject::connect(button, &QAbstractButton::clicked, button, [h] { NotifyClicked(h); });
    } else if (SameClass(item.windowClass, u"Edit")) {
        record->kind = WindowKind::Edit;
        h = RegisterWindow(std::move(record));
        auto* edit = new QLineEdit(text, parent);
        edit->setReadOnly((item.style & ES_READONLY) != 0);
        edit->setFrame((item.style & WS_BORDER) != 0);
        w = edit;
    } else if (SameClass(item.windowClass, u"Static")) {
        if ((item.style & SS_TYPEMASK) == SS_BITMAP) {
            record->kind = WindowKind::Bitmap;
            h = RegisterWindow(std::move(record));
            auto* bitmap = new BitmapWidget(parent);
            w = bitmap;
            if (item.imageId) {
                h->bitmap = LoadBitmapW(AfxGetResourceHandle(), MAKEINTRESOURCEW(item.imageId));
                if (h->bitmap)
                    bitmap->SetImage(&h->bitmap->image);
            }
        } else {
            record->kind = WindowKind::StaticText;
            h = RegisterWindow(std::move(record));
            SetStaticTextHere(h, ToU16(text));
            w = new StaticTextWidget(h, item.style, parent);
        }
    } else if (SameClass(item.windowClass, u"SysListView32")) {
        record->kind = WindowKind::ListView;
        h = RegisterWindow(std::move(record));
        auto* list = new ListViewWidget(h, parent);
        if (!(item.style & WS_BORDER))
            list->setFrameShape(QFrame::NoFrame);
        h->listModel = &list->model;
        w = list;
    } else {
        record->kind = WindowKind::Generic;
        h = RegisterWindow(std::move(record));
        w = new QWidget(parent);
    }

    h->widget = w;
    QSize fixed(DialogUnitsToPixels(item.cx), DialogUnitsToPixels(item.cy));
    w->move(DialogUnitsToPixels(item.x), DialogUnitsToPixels(item.y));
    if (h->kind == WindowKind::Bitmap && h->bitmap)
        w->resize(h->bitmap->image.size());
    else
        w->resize(fixed);
    w->setEnabled(!(item.style & WS_DISABLED));
    if (!(item.style & WS_VISIBLE))
        w->setVisible(false);
    if (h->kind == WindowKind::StaticText || h->kind == WindowKind::Bitmap || h->kind == WindowKind::GroupBox)
        w->setFocusPolicy(Qt::NoFocus);
    else
        w->setFocusPolicy((item.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    return h;
}

const DialogTemplate* LoadTemplate(LPCWSTR name) {
    HMODULE module = AfxGetResourceHandle();
    HRSRC info = FindResourceW(module, name, RT_DIALOG);
    if (!info || SizeofResource(module, info) != sizeof(DialogTemplate))
        return nullptr;
    return static_cast<const DialogTemplate*>(LockResource(LoadResource(module, info)));
}

} // namespace

struct DialogRunner {
    static bool Create(CDialog& dialog) {
        velmora::ui::EnsureWindowSystem();
        const DialogTemplate* t = LoadTemplate(dialog.m_lpszTemplateName);
        if (!t || dialog.m_hWnd)
            return false;
        dialog.m_bEnded = false;
        dialog.m_nModalResult = -1;

        auto record = std::make_unique<HWND__>();
        record->kind = WindowKind::Dialog;
        record->style = t->style;
        record->exStyle = t->exStyle;
        record->parent = dialog.m_pParentWnd ? dialog.m_pParentWnd->GetSafeHwnd() : nullptr;
        HWND h = RegisterWindow(std::move(record));
        auto* widget = new DialogWidget(h);
        h->widget = widget;
        Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (t->style & WS_SYSMENU)
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (t->style & WS_MINIMIZEBOX)
            flags |= Qt::WindowMinimizeButtonHint;
        if (t->style & WS_MAXIMIZEBOX)
            flags |= Qt::WindowMaximizeButtonHint;
        widget->setWindowFlags(flags);
        widget->setWindowTitle(ToQString(t->title));
        widget->setFont(DialogFont(*t));
        widget->setAutoFillBackground(true);
        QSize size(DialogUnitsToPixels(t->cx), DialogUnitsToPixels(t->cy));
        if (t->style & WS_THICKFRAME)
            widget->resize(size);
        else
            widget->setFixedSize(size);
        widget->move(DialogUnitsToPixels(t->x), DialogUnitsToPixels(t->y));
        for (WORD i = 0; i < t->itemCount; ++i)
            h->children.push_back(CreateChild(h, t->items[i]));
        dialog.Attach(h);

        BOOL setFocus = static_cast<BOOL>(DispatchHere(h, WM_INITDIALOG, 0, 0));
        if (!IsLive(h))
            return true;
        if (t->style & WS_VISIBLE && !dialog.m_bEnded) {
            widget->show();
            LogEvent("show-window " + widget->windowTitle().toStdString());
        }
        if (setFocus) {
            for (HWND child : h->children) {
                if ((child->style & WS_TABSTOP) && child->widget && child->widget->isEnabled() && !child->widget->isHidden()) {
                    child->widget->setFocus(Qt::OtherFocusReason);
                    break;
                }
            }
        }
        return true;
    }

    static void Run(CDialog& dialog) {
        if (dialog.m_bEnded || !dialog.m_hWnd)
            return;
        QEventLoop loop;
        dialog.m_pLoop = &loop;
        loop.exec();
        dialog.m_pLoop = nullptr;
    }

    static void Destroy(CDialog& dialog) {
        if (dialog.m_hWnd)
            ::DestroyWindow(dialog.m_hWnd);
        dialog.m_hWnd = nullptr;
    }

    static bool Ended(const CDialog& dialog) { return dialog.m_bEnded; }
    static int Result(const CDialog& dialog) { return dialog.m_nModalResult; }
};

BOOL DestroyWindow(HWND hWnd) {
    if (!IsLive(hWnd))
        return FALSE;
    return static_cast<BOOL>(RunOnWindowThread(hWnd, [=]() -> LRESULT {
        QPointer<QWidget> widget = hWnd->widget;
        HWND parent = hWnd->parent;
        if (IsLive(parent)) {
            auto& siblings = parent->children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), hWnd), siblings.end());
        }
        UnregisterWindowTree(hWnd);
        if (widget) {
            widget->hide();
            widget->deleteLater();
        }
        return TRUE;
    }));
}

// --- CDialog ----------------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
ON_MESSAGE(WM_INITDIALOG, &CDialog::HandleInitDialog)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDHelp(nIDTemplate), m_lpszTemplateName(MAKEINTRESOURCEW(nIDTemplate)), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
    if (!DialogRunner::Create(*this))
        return -1;
    DialogRunner::Run(*this);
    int result = m_nModalResult;
    DialogRunner::Destroy(*this);
    return result;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

void CDialog::EndDialog(int nResult) {
    HWND h = m_hWnd;
    if (!velmora::ui::IsWindowThread()) {
        RunOnWindowThread(h, [this, nResult]() -> LRESULT {
            EndDialog(nResult);
            return 0;
        });
        return;
    }
    m_nModalResult = nResult;
    m_bEnded = true;
    if (IsLive(h) && h->widget)
        h->widget->hide();
    if (m_pLoop)
        static_cast<QEventLoop*>(m_pLoop)->quit();
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return CWnd::DefWindowProc(message, wParam, lParam);
}

namespace velmora::ui::testing {
bool StartDialog(CDialog& dialog) { return DialogRunner::Create(dialog); }
bool DialogEnded(const CDialog& dialog) { return DialogRunner::Ended(dialog); }
int DialogResult(const CDialog& dialog) { return DialogRunner::Result(dialog); }
void FinishDialog(CDialog& dialog) { DialogRunner::Destroy(dialog); }
} // namespace velmora::ui::testing

// --- Painting ---------------------------------------------------------------------------------

struct HDC__ {
    QImage scratch;
    std::unique_ptr<QPainter> painter;
};

CPaintDC::CPaintDC(CWnd* pWnd) : m_pWnd(pWnd) {
    m_hDC = new HDC__;
    HWND h = pWnd ? pWnd->GetSafeHwnd() : nullptr;
    QWidget* w = IsLive(h) ? h->widget.data() : nullptr;
    if (w && w == PaintingWidget()) {
        m_hDC->painter = std::make_unique<QPainter>(w);
    } else {
        QSize size = w ? w->size() : QSize(1, 1);
        m_hDC->scratch = QImage(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
        m_hDC->painter = std::make_unique<QPainter>(&m_hDC->scratch);
    }
}

CPaintDC::~CPaintDC() {
    m_hDC->painter->end();
    delete m_hDC;
    m_hDC = nullptr;
}

void CDC::FillSolidRect(const RECT* lpRect, COLORREF clr) {
    if (!m_hDC || !lpRect || !m_hDC->painter)
        return;
    m_hDC->painter->fillRect(QRect(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top),
                             QColor(clr & 0xFF, (clr >> 8) & 0xFF, (clr >> 16) & 0xFF));
}

BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon) {
    if (!hDC || !hIcon || !hDC->painter)
        return FALSE;
    hDC->painter->drawImage(QRect(X, Y, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)), hIcon->image);
    return TRUE;
}

// --- The window system ------------------------------------------------------------------------

namespace velmora::ui {

void EnsureWindowSystem(int argc, char** argv) {
    static bool started = false;
    if (started)
        return;
    started = true;
    if (!QCoreApplication::instance()) {
        static int s_argc = 1;
        static char s_name[] = "velmora";
        static char* s_argv[] = {s_name, nullptr};
        if (argc > 0 && argv) {
            s_argc = argc;
            new QApplication(s_argc, argv);
        } else {
            new QApplication(s_argc, s_argv);
        }
    }
    detail::StartDispatcher();
}

void PumpMessages(int milliseconds) {
    EnsureWindowSystem();
    QEventLoop loop;
    QTimer::singleShot(std::max(milliseconds, 0), &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace velmora::ui
