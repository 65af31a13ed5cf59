// Inside the window layer: what a window handle stands for, and the Qt widgets behind it.
// Only the layer's own sources include this.
#pragma once

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/ui_hooks.h"
#include "platform/ui/wnd.h"

class ListModel;
class QTimer;

enum class WindowKind { Dialog, PushButton, CheckBox, RadioButton, GroupBox, Edit, StaticText, Bitmap, ListView, Generic };

struct HICON__ {
    QImage image;
};

struct HBITMAP__ {
    QImage image;
};

struct HWND__ {
    WindowKind kind = WindowKind::Generic;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    HWND parent = nullptr;
    QPointer<QWidget> widget;
    std::atomic<CWnd*> attached{nullptr}; // the framework object bound to this window
    std::unique_ptr<CWnd> temporary;      // the stand-in when nothing is bound
    std::vector<HWND> children;           // template order
    std::map<UINT_PTR, QTimer*> timers;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    HBITMAP bitmap = nullptr;
    ListModel* listModel = nullptr;
    DWORD listExStyle = 0;
    // Static text is held here, not in its widget: any thread sets or reads it under textLock, so
    // a worker's status line takes effect without waiting for the windows' thread, and the widget
    // paints whatever is here when it paints. repaintPending keeps at most one repaint queued;
    // lastRepaint (windows' thread only) spaces those repaints a frame apart.
    std::mutex textLock;
    std::u16string text;
    bool repaintPending = false;
    std::chrono::steady_clock::time_point lastRepaint{};
};

namespace velmora::ui::detail {

// Window handles that are alive. Every entry point checks a handle here before touching it.
HWND RegisterWindow(std::unique_ptr<HWND__> window);
bool IsLive(HWND hWnd);
// Forgets the window and its children (children first) and deletes their widgets' bookkeeping.
void UnregisterWindowTree(HWND hWnd);

// Runs fn on the windows' thread and returns its value. From another thread the caller waits
// (a sent message); a stopped caller is refused, or released while it waits. A window that
// dies first makes the call return 0.
LRESULT RunOnWindowThread(HWND hWnd, std::function<LRESULT()> fn);
// Queues fn for the windows' thread without waiting.
void PostToWindowThread(HWND hWnd, std::function<void()> fn);

// The text of a static text window, from any thread.
std::u16string StaticTextOf(HWND hWnd);
// Sets it on the windows' thread and repaints the widget.
void SetStaticTextHere(HWND hWnd, std::u16string_view text);
// WM_SETTEXT from another thread to a static text window that no framework object is bound to
// (a bound one may handle the message itself, so it gets it as a sent message): the text is
// stored at once and one repaint is queued, without waiting for the windows' thread. A stopped
// caller changes nothing, and once its stop request has returned no such call of it lands.
// False when the call is not of that kind; *result is then untouched.
bool SetStaticTextWithoutWaiting(HWND hWnd, LPCWSTR text, LRESULT* result);

// Runs what other threads queued for the windows' thread.
void RunPendingCalls();
void StartDispatcher();

// The message to the window on its own thread: through the bound object's map, then default.
LRESULT DispatchHere(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// The built-in behaviour of each kind of window.
LRESULT DefaultWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ListViewProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// The widget currently inside its paint event on this thread, for CPaintDC.
QWidget* PaintingWidget();
void SetPaintingWidget(QWidget* widget);

// Writes one line to $VELMORA_UI_EVENT_LOG when it is set (process-level tests read it).
bool EventLogEnabled();
void LogEvent(const std::string& line);

QString ToQString(LPCWSTR text);
std::u16string ToU16(const QString& text);

// Sends the notification of a clicked button to its dialog.
void NotifyClicked(HWND button);

// The program's name, for message box captions.
const std::u16string& ProgramName();

} // namespace velmora::ui::detail
