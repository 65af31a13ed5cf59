// Threads: creation, waits, exit codes and the stop request that takes the place of killing one.
//
// Linux cannot end a thread from outside without leaving locks, files and library state behind,
// so TerminateThread does not kill. It marks the thread stopped and returns at once. From then on
// the thread counts as ended for every caller: WaitForSingleObject on its handle is signalled and
// GetExitCodeThread reports the code given to TerminateThread. The thread itself keeps running
// until it notices the request (IsCurrentThreadStopped) or returns; whatever it still asks of the
// window layer is discarded there. Its bookkeeping is shared between the handle and the running
// thread, so a stopped thread that returns long after its handle was closed frees it cleanly.
#pragma once

#include <type_traits>

#include "platform/kernel/win_types.h"

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID lpThreadParameter);

constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD CREATE_SUSPENDED = 0x00000004;  // not supported: CreateThread fails with it

// dwStackSize 0 is the default stack; any other value is a minimum. lpThreadId may be null.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId);

// For a thread handle: WAIT_OBJECT_0 once the thread has returned or was stopped, WAIT_TIMEOUT
// after dwMilliseconds (INFINITE waits without limit), WAIT_FAILED (ERROR_INVALID_HANDLE) for
// anything that is not a waitable handle.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// A stop request; see the top of this file. Stopping a thread that has already ended changes
// nothing and succeeds. A thread may stop itself, but nothing makes it leave its procedure.
BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode);

// STILL_ACTIVE while the thread runs and has not been stopped; else its return value, or the
// code given to TerminateThread when it was stopped first.
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);

DWORD GetThreadId(HANDLE hThread);
DWORD GetCurrentThreadId();
void Sleep(DWORD dwMilliseconds);

namespace velmora::kernel {

// True on a thread created by CreateThread once TerminateThread was called on it. Any other thread
// (the dialog's, the process's first) is never stopped. Cheap: one thread-local read and one
// atomic load, so loops may ask between every step.
bool IsCurrentThreadStopped();

// The same question about another thread, by its id; false for an unknown or finished id.
bool IsThreadStopped(DWORD threadId);

// Runs action unless the calling thread has been stopped, and keeps TerminateThread from
// completing while it runs: once TerminateThread has returned, no action of that thread runs any
// more, and everything an earlier one wrote is visible to the thread that stopped it. For the few
// plain writes a worker makes to state that its stopper reads afterwards. Keep actions short and
// never block in one. Returns whether the action ran. On a thread not made by CreateThread it
// always runs.
bool RunUnlessStopped(void (*action)(void* context), void* context);

template <class Action> bool RunUnlessStopped(Action&& action) {
    using Plain = std::remove_reference_t<Action>;
    return RunUnlessStopped([](void* context) { (*static_cast<Plain*>(context))(); },
                            const_cast<void*>(static_cast<const void*>(&action)));
}

// Waits until the thread's procedure has really returned, stopped or not (for tests and orderly
// shutdown: a stopped thread is already "ended" to WaitForSingleObject). Returns true when it
// has, false on a timeout or a bad handle.
bool WaitForThreadReturn(HANDLE hThread, DWORD dwMilliseconds);

// Number of threads created by CreateThread whose procedure has not returned yet.
int RunningThreadCount();

}  // namespace velmora::kernel
