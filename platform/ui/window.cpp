// Window handles, the message path and calls from other threads.
//
// Every window lives on the thread that started the window system (the dialog's thread). A call
// from any other thread is queued for that thread and the caller waits for its result, which is
// how a sent message behaves. A stopped worker must never get an effect out of such a call, and
// must not stay blocked in one: the call is refused when it is made, dropped when it comes up on
// the dialog's thread, and the waiting caller polls its stop state so it is released even while
// the dialog's thread is itself waiting for that worker.
//
// The one call that does not wait is setting the text of static text (a status line shown for
// every entry of a scan): its text is plain state, so the calling thread stores it in the window's
// record, under the same guard that makes a stop request wait for a worker's plain writes, and
// asks the windows' thread for one repaint.
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <unordered_set>

#include "platform/kernel/thread_api.h"
#include "platform/ui/list_view.h"
#include "platform/ui/window_impl.h"

namespace velmora::ui {
namespace {

bool NeverStopped() { return false; }
std::atomic<bool (*)()> g_isCurrentThreadStopped{&NeverStopped};
std::atomic<DWORD (*)()> g_currentThreadId{nullptr};
std::atomic<bool (*)(DWORD)> g_isThreadStopped{nullptr};

enum CallState : int { kPending, kRunning, kDone, kDropped };

struct CrossThreadCall {
    std::function<LRESULT()> fn;
    DWORD senderId = 0;
    bool hasSenderId = false;
    std::atomic<int> state{kPending};
    LRESULT result = 0;
    std::mutex mutex;
    std::condition_variable finished;
};

// One lock guards the set of live windows and the queue, so a window cannot die between the
// check that it is alive and the queuing of a call to it.
std::mutex g_lock;
std::unordered_set<HWND> g_live;
std::deque<std::shared_ptr<CrossThreadCall>> g_calls;
std::deque<std::function<void()>> g_posted;
std::atomic<bool> g_wakePending{false};

class Dispatcher : public QObject {
public:
    static QEvent::Type WakeType() {
        static const int type = QEvent::registerEventType();
        return static_cast<QEvent::Type>(type);
    }
    void customEvent(QEvent* event) override {
        if (event->type() == WakeType())
            detail::RunPendingCalls();
    }
};

Dispatcher* g_dispatcher = nullptr;

void Wake() {
    if (!g_dispatcher)
        return;
    if (!g_wakePending.exchange(true))
        QCoreApplication::postEvent(g_dispatcher, new QEvent(Dispatcher::WakeType()));
}

bool SenderStopped(const CrossThreadCall& call) {
    auto query = g_isThreadStopped.load();
    return call.hasSenderId && query && query(call.senderId);
}

void Finish(CrossThreadCall& call, int state) {
    {
        std::lock_guard<std::mutex> guard(call.mutex);
        call.state = state;
    }
    call.finished.notify_all();
}

} // namespace

void SetStoppedThreadQuery(bool (*isCurrentThreadStopped)()) {
    g_isCurrentThreadStopped = isCurrentThreadStopped ? isCurrentThreadStopped : &NeverStopped;
}

void SetStoppedThreadIdQuery(DWORD (*currentThreadId)(), bool (*isThreadStopped)(DWORD)) {
    g_currentThreadId = currentThreadId;
    g_isThreadStopped = isThreadStopped;
}

namespace detail {

HWND RegisterWindow(std::unique_ptr<HWND__> window) {
    HWND h = window.release();
    std::lock_guard<std::mutex> guard(g_lock);
    g_live.insert(h);
    return h;
}

bool IsLive(HWND hWnd) {
    if (!hWnd)
        return false;
    std::lock_guard<std::mutex> guard(g_lock);
    return g_live.count(hWnd) != 0;
}

namespace {
void CollectTree(HWND hWnd, std::vector<HWND>& out) {
    out.push_back(hWnd);
    for (HWND child : hWnd->children)
        CollectTree(child, out);
}
} // namespace

void UnregisterWindowTree(HWND hWnd) {
    if (!IsLive(hWnd))
        return;
    std::vector<HWND> tree;
    CollectTree(hWnd, tree);
    {
        // The whole tree dies at once, so no queued call can still reach a part of it.
        std::lock_guard<std::mutex> guard(g_lock);
        for (HWND h : tree)
            g_live.erase(h);
    }
    for (HWND h : tree) {
        // The timers belong to the widget, which goes with its window; they only need to stop now.
        for (auto& entry : h->timers)
            entry.second->stop();
        h->timers.clear();
        if (CWnd* bound = h->attached.exchange(nullptr))
            bound->m_hWnd = nullptr;
    }
    // Calls that were queued for these windows now find them gone and return at once.
    RunPendingCalls();
    // The records and their stand-in objects are kept, not freed: another thread may have read
    // a handle or a GetDlgItem pointer just before the window went, and must find a dead window
    // there rather than freed memory. A dialog leaves a few hundred bytes behind.
    static std::mutex retiredLock;
    static std::vector<HWND>* retired = new std::vector<HWND>;
    std::lock_guard<std::mutex> guard(retiredLock);
    retired->insert(retired->end(), tree.begin(), tree.end());
}

void RunPendingCalls() {
    g_wakePending = false;
    for (;;) {
        std::shared_ptr<CrossThreadCall> call;
        std::function<void()> posted;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            if (!g_calls.empty()) {
                call = g_calls.front();
                g_calls.pop_front();
            } else if (!g_posted.empty()) {
                posted = std::move(g_posted.front());
                g_posted.pop_front();
            } else {
                return;
            }
        }
        if (posted) {
            posted();
            continue;
        }
        int expected = kPending;
        if (SenderStopped(*call)) {
            if (call->state.compare_exchange_strong(expected, kDropped))
                Finish(*call, kDropped);
            continue;
        }
        if (!call->state.compare_exchange_strong(expected, kRunning))
            continue; // the sender gave up while it waited
        call->result = call->fn();
        Finish(*call, kDone);
    }
}

LRESULT RunOnWindowThread(HWND hWnd, std::function<LRESULT()> fn) {
    auto guarded = [hWnd, fn = std::move(fn)]() -> LRESULT { return IsLive(hWnd) ? fn() : 0; };
    if (IsWindowThread())
        return guarded();
    auto isStopped = g_isCurrentThreadStopped.load();
    if (isStopped())
        return 0;
    auto call = std::make_shared<CrossThreadCall>();
    call->fn = std::move(guarded);
    if (auto currentId = g_currentThreadId.load()) {
        call->senderId = currentId();
        call->hasSenderId = true;
    }
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (!g_live.count(hWnd) || !g_dispatcher)
            return 0;
        g_calls.push_back(call);
    }
    Wake();
    std::unique_lock<std::mutex> lock(call->mutex);
    for (;;) {
        int state = call->state.load();
        if (state == kDone)
            return call->result;
        if (state == kDropped)
            return 0;
        call->finished.wait_for(lock, std::chrono::milliseconds(2));
        if (isStopped()) {
            int expected = kPending;
            if (call->state.compare_exchange_strong(expected, kDropped))
                return 0;
        }
    }
}

void PostToWindowThread(HWND hWnd, std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (!g_live.count(hWnd) || !g_dispatcher)
            return;
        g_posted.push_back([hWnd, fn = std::move(fn)] {
            if (IsLive(hWnd))
                fn();
        });
    }
    Wake();
}

std::u16string StaticTextOf(HWND hWnd) {
    std::lock_guard<std::mutex> guard(hWnd->textLock);
    return hWnd->text;
}

void SetStaticTextHere(HWND hWnd, std::u16string_view text) {
    {
        std::lock_guard<std::mutex> guard(hWnd->textLock);
        if (hWnd->text == text)
            return;
        hWnd->text.assign(text);
    }
    if (QWidget* w = hWnd->widget)
        w->update();
}

namespace {

// A status line may change thousands of times a second; nobody reads it faster than the screen
// shows it, and painting text for every change would take the windows' thread from everything else.
constexpr auto kStaticTextFrame = std::chrono::milliseconds(16);

// The queued repaint of a static text, on the windows' thread: now, or a frame after the last one.
// Until it has run, no other is queued; a text set meanwhile is simply in the record when it paints.
void RepaintStaticText(HWND hWnd) {
    QWidget* w = hWnd->widget;
    auto now = std::chrono::steady_clock::now();
    auto due = hWnd->lastRepaint + kStaticTextFrame;
    if (w && now < due) {
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now);
        QTimer::singleShot(static_cast<int>(wait.count()), w, [hWnd] {
            if (IsLive(hWnd))
                RepaintStaticText(hWnd);
        });
        return;
    }
    {
        std::lock_guard<std::mutex> guard(hWnd->textLock);
        hWnd->repaintPending = false;
    }
    hWnd->lastRepaint = now;
    if (w)
        w->update();
}

} // namespace

bool SetStaticTextWithoutWaiting(HWND hWnd, LPCWSTR text, LRESULT* result) {
    if (IsWindowThread() || !IsLive(hWnd) || hWnd->kind != WindowKind::StaticText || hWnd->attached.load() != nullptr)
        return false;
    *result = FALSE;
    if (g_isCurrentThreadStopped.load()())
        return true;
    std::u16string_view view = text ? std::u16string_view(text) : std::u16string_view();
    bool queueRepaint = false;
    velmora::kernel::RunUnlessStopped([&] {
        if (!IsLive(hWnd))
            return;
        std::lock_guard<std::mutex> guard(hWnd->textLock);
        *result = TRUE;
        if (hWnd->text == view)
            return;
        hWnd->text.assign(view);
        queueRepaint = !hWnd->repaintPending;
        hWnd->repaintPending = true;
    });
    // The request carries no text: whenever it runs, the widget paints what the record holds then.
    if (queueRepaint)
        PostToWindowThread(hWnd, [hWnd] { RepaintStaticText(hWnd); });
    return true;
}

LRESULT DispatchHere(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(hWnd))
        return 0;
    CWnd* target = CWnd::FromHandle(hWnd);
    return target->WindowProc(message, wParam, lParam);
}

namespace {
thread_local QWidget* t_paintingWidget = nullptr;
std::thread::id g_windowThread;
std::atomic<bool> g_windowSystemUp{false};
} // namespace

QWidget* PaintingWidget() { return t_paintingWidget; }
void SetPaintingWidget(QWidget* widget) { t_paintingWidget = widget; }

bool EventLogEnabled() {
    const char* path = std::getenv("VELMORA_UI_EVENT_LOG");
    return path && *path;
}

void LogEvent(const std::string& line) {
    const char* path = std::getenv("VELMORA_UI_EVENT_LOG");
    if (!path || !*path)
        return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%d %s\n", static_cast<int>(getpid()), line.c_str());
        std::fclose(f);
    }
}

QString ToQString(LPCWSTR text) {
    if (!text)
        return QString();
    return QString::fromUtf16(text);
}

std::u16string ToU16(const QString& text) { return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), text.size()); }

void NotifyClicked(HWND button) {
    if (!IsLive(button) || !button->parent)
        return;
    SendMessageW(button->parent, WM_COMMAND, MAKEWPARAM(button->id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

const std::u16string& ProgramName() {
    static const std::u16string name = [] {
        char buffer[4096];
        ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        std::string path = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string("velmora");
        std::string base = path.substr(path.find_last_of('/') + 1);
        return ToU16(QString::fromStdString(base));
    }();
    return name;
}

void StartDispatcher() {
    g_windowThread = std::this_thread::get_id();
    g_dispatcher = new Dispatcher;
    g_windowSystemUp = true;
}

} // namespace detail

LRESULT CallOnWindowThread(HWND hWnd, std::function<LRESULT()> fn) { return detail::RunOnWindowThread(hWnd, std::move(fn)); }

bool IsWindowThread() { return detail::g_windowSystemUp && std::this_thread::get_id() == detail::g_windowThread; }

} // namespace velmora::ui
