// Inside the window layer: what a window handle stands for, and the Qt widgets behind it.
// Only the layer's own sources include this.
#pragma once

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
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
