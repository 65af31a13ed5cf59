#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/kernel/thread_api.h"
#include "platform/kernel/waitable_object.h"

namespace velmora::kernel {
namespace {

std::atomic<DWORD> g_nextThreadId{1};

DWORD NewThreadId() {
    DWORD id = g_nextThreadId.fetch_add(1, std::memory_order_relaxed);
    if (id == 0)  // after 2^32 threads; 0 is never a thread id
        id = g_nextThreadId.fetch_add(1, std::memory_order_relaxed);
    return id;
}

// Shared by the handle and the running thread: whichever lets go last frees it, so a stopped
// thread may return after its handle was closed, or the handle may outlive the thread.
struct ThreadState {
    DWORD id = 0;
    LPTHREAD_START_ROUTINE procedure = nullptr;
    LPVOID parameter = nullptr;

    std::atomic<bool> stopped{false};

    std::mutex lock;
    std::condition_variable changed;
    bool returned = false;  // guarded by lock
    DWORD returnValue = 0;  // guarded by lock
    DWORD stopCode = 0;     // guarded by lock
};

// Threads by id, for IsThreadStopped and RunningThreadCount. Never destroyed: threads that are
// still running while the process ends must find it intact.
struct Registry {
    std::mutex lock;
    std::unordered_map<DWORD, std::weak_ptr<ThreadState>> running;
};

Registry& Threads() {
    static Registry* registry = new Registry;
    return *registry;
}

thread_local ThreadState* t_current = nullptr;
thread_local DWORD t_id = 0;

class ThreadObject final : public WaitableObject {
public:
    explicit ThreadObject(std::shared_ptr<ThreadState> state) : m_state(std::move(state)) {}
    const char* KindName() const override { return "thread"; }

    bool WaitUntilSignalled(DWORD dwMilliseconds) override {
        return Wait(dwMilliseconds, [this] { return m_state->returned || m_state->stopped.load(); });
    }
    bool WaitUntilReturned(DWORD dwMilliseconds) {
        return Wait(dwMilliseconds, [this] { return m_state->returned; });
    }

    ThreadState& State() { return *m_state; }

private:
    template <class Done> bool Wait(DWORD dwMilliseconds, Done done) {
        std::unique_lock guard(m_state->lock);
        if (dwMilliseconds == INFINITE) {
            m_state->changed.wait(guard, done);
            return true;
        }
        return m_state->changed.wait_for(guard, std::chrono::milliseconds(dwMilliseconds), done);
    }

    std::shared_ptr<ThreadState> m_state;
};

void* ThreadMain(void* raw) {
    // The thread's own reference, taken over from CreateThread.
    std::shared_ptr<ThreadState> state(std::move(*static_cast<std::shared_ptr<ThreadState>*>(raw)));
    delete static_cast<std::shared_ptr<ThreadState>*>(raw);

    t_current = state.get();
    t_id = state->id;
    DWORD result = state->procedure(state->parameter);
    t_current = nullptr;

    {
        Registry& registry = Threads();
        std::lock_guard guard(registry.lock);
        registry.running.erase(state->id);
    }
    {
        std::lock_guard guard(state->lock);
        state->returned = true;
        state->returnValue = result;
    }
    state->changed.notify_all();
    return nullptr;
}

std::shared_ptr<ThreadObject> LookupThread(HANDLE hThread) { return LookupKernelObjectAs<ThreadObject>(hThread); }

}  // namespace

bool IsCurrentThreadStopped() {
    ThreadState* current = t_current;
    return current != nullptr && current->stopped.load(std::memory_order_acquire);
}

bool IsThreadStopped(DWORD threadId) {
    Registry& registry = Threads();
    std::lock_guard guard(registry.lock);
    auto it = registry.running.find(threadId);
    if (it == registry.running.end())
        return false;
    auto state = it->second.lock();
    return state && state->stopped.load(std::memory_order_acquire);
}

bool RunUnlessStopped(void (*action)(void* context), void* context) {
    ThreadState* current = t_current;
    if (current == nullptr) {
        action(context);
        return true;
    }
    std::lock_guard guard(current->lock);
    if (current->stopped.load(std::memory_order_relaxed))
        return false;
    action(context);
    return true;
}

bool WaitForThreadReturn(HANDLE hThread, DWORD dwMilliseconds) {
    auto thread = LookupThread(hThread);
    return thread && thread->WaitUntilReturned(dwMilliseconds);
}

int RunningThreadCount() {
    Registry& registry = Threads();
    std::lock_guard guard(registry.lock);
    return static_cast<int>(registry.running.size());
}

}  // namespace velmora::kernel

using namespace velmora::kernel;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
    if (lpStartAddress == nullptr || (dwCreationFlags & CREATE_SUSPENDED) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    state->id = NewThreadId();
    state->procedure = lpStartAddress;
    state->parameter = lpParameter;

    HANDLE handle = RegisterKernelObject(std::make_shared<ThreadObject>(state));
    {
        Registry& registry = Threads();
        std::lock_guard guard(registry.lock);
        registry.running.emplace(state->id, state);
    }

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (dwStackSize != 0) {
        const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
        size_t size = dwStackSize < minimum ? minimum : dwStackSize;
        pthread_attr_setstacksize(&attributes, size);
    }
    auto* handover = new std::shared_ptr<ThreadState>(state);
    pthread_t thread;
    int error = pthread_create(&thread, &attributes, ThreadMain, handover);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete handover;
        {
            Registry& registry = Threads();
            std::lock_guard guard(registry.lock);
            registry.running.erase(state->id);
        }
        ReleaseKernelHandle(handle);
        SetLastError(error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (lpThreadId != nullptr)
        *lpThreadId = state->id;
    return handle;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    auto object = LookupKernelObjectAs<WaitableObject>(hHandle);
    if (!object)
        return WAIT_FAILED;
    return object->WaitUntilSignalled(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode) {
    auto thread = LookupThread(hThread);
    if (!thread)
        return FALSE;
    ThreadState& state = thread->State();
    {
        std::lock_guard guard(state.lock);
        if (!state.returned && !state.stopped.load()) {
            state.stopCode = dwExitCode;
            state.stopped.store(true, std::memory_order_release);
        }
    }
    state.changed.notify_all();
    return TRUE;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    auto thread = LookupThread(hThread);
    if (!thread)
        return FALSE;
    if (lpExitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ThreadState& state = thread->State();
    std::lock_guard guard(state.lock);
    if (state.stopped.load())
        *lpExitCode = state.stopCode;
    else if (state.returned)
        *lpExitCode = state.returnValue;
    else
        *lpExitCode = STILL_ACTIVE;
    return TRUE;
}

DWORD GetThreadId(HANDLE hThread) {
    auto thread = LookupThread(hThread);
    return thread ? thread->State().id : 0;
}

DWORD GetCurrentThreadId() {
    if (t_id == 0)
        t_id = NewThreadId();
    return t_id;
}

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == INFINITE) {
        for (;;)
            pause();
    }
    struct timespec delay;
    delay.tv_sec = dwMilliseconds / 1000;
    delay.tv_nsec = static_cast<long>(dwMilliseconds % 1000) * 1000000L;
    while (nanosleep(&delay, &delay) == -1 && errno == EINTR) {
    }
}
