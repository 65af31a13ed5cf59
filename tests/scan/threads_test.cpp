#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/kernel/kernel_object.h"
#include "platform/kernel/thread_api.h"

using namespace velmora::kernel;

namespace {

struct Probe {
    std::atomic<bool> release{false};
    std::atomic<bool> sawStop{false};
    std::atomic<DWORD> ownId{0};
    DWORD result = 0;
};

DWORD WINAPI WaitForRelease(LPVOID raw) {
    auto* probe = static_cast<Probe*>(raw);
    probe->ownId = GetCurrentThreadId();
    while (!probe->release)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    probe->sawStop = IsCurrentThreadStopped();
    return probe->result;
}

DWORD WINAPI RunUntilStopped(LPVOID raw) {
    auto* probe = static_cast<Probe*>(raw);
    while (!IsCurrentThreadStopped())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    probe->sawStop = true;
    return 7;
}

}  // namespace

TEST(Threads, RunToTheEndAndReportTheirReturnValue) {
    Probe probe;
    probe.result = 42;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitForRelease, &probe, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(GetThreadId(thread), id);

    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);

    probe.release = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(probe.ownId.load(), id);
    EXPECT_NE(GetCurrentThreadId(), id);
    EXPECT_FALSE(probe.sawStop);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, StopRequestEndsTheThreadForEveryCallerAtOnce) {
    Probe probe;
    probe.result = 5;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitForRelease, &probe, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(IsThreadStopped(id));

    ASSERT_TRUE(TerminateThread(thread, 3));
    // The procedure is still in its loop, yet the handle is signalled and the code is the stop's.
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 3u);
    EXPECT_TRUE(IsThreadStopped(id));
    EXPECT_FALSE(IsCurrentThreadStopped());
    EXPECT_FALSE(WaitForThreadReturn(thread, 10));

    probe.release = true;
    EXPECT_TRUE(WaitForThreadReturn(thread, INFINITE));
    EXPECT_TRUE(probe.sawStop);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 3u) << "the procedure's own return value must not show after a stop";
    EXPECT_FALSE(IsThreadStopped(id)) << "a finished thread is unknown";
    EXPECT_TRUE(TerminateThread(thread, 9));
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 3u);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, StoppingAFinishedThreadKeepsItsReturnValue) {
    Probe probe;
    probe.result = 11;
    probe.release = true;
    HANDLE thread = CreateThread(nullptr, 0, WaitForRelease, &probe, 0, nullptr);
    ASSERT_TRUE(WaitForThreadReturn(thread, INFINITE));
    EXPECT_TRUE(TerminateThread(thread, 1));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 11u);
    CloseHandle(thread);
}

TEST(Threads, StoppedThreadThatOutlivesItsHandleFinishesCleanly) {
    int before = RunningThreadCount();
    std::size_t handlesBefore = OpenKernelHandleCount();
    static Probe probes[8];
    for (auto& probe : probes) {
        HANDLE thread = CreateThread(nullptr, 0, RunUntilStopped, &probe, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(TerminateThread(thread, 0));
        ASSERT_TRUE(CloseHandle(thread));  // at once: the thread may not even have started
    }
    EXPECT_EQ(OpenKernelHandleCount(), handlesBefore);
    for (int i = 0; i < 2000 && RunningThreadCount() > before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(RunningThreadCount(), before);
    for (auto& probe : probes)
        EXPECT_TRUE(probe.sawStop);
}

TEST(Threads, BadHandlesAndArgumentsFailWithoutTouchingAnything) {
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x7ffffff0));
    for (HANDLE h : {HANDLE(nullptr), INVALID_HANDLE_VALUE, bogus}) {
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(TerminateThread(h, 0));
        DWORD code = 0;
        EXPECT_FALSE(GetExitCodeThread(h, &code));
        EXPECT_EQ(GetThreadId(h), 0u);
        EXPECT_FALSE(WaitForThreadReturn(h, 0));
    }
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    Probe probe;
    EXPECT_EQ(CreateThread(nullptr, 0, WaitForRelease, &probe, CREATE_SUSPENDED, nullptr), nullptr);

    probe.release = true;
    HANDLE thread = CreateThread(nullptr, 64 * 1024, WaitForRelease, &probe, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(CloseHandle(thread));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
}

TEST(Threads, SleepWaitsAtLeastTheGivenTime) {
    auto start = std::chrono::steady_clock::now();
    Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    Sleep(0);
}

namespace {

struct Counter {
    int count = 0;  // plain on purpose: the guard is what makes the stopper's read safe
    std::atomic<bool> started{false};
    std::atomic<int> refused{0};
};

DWORD WINAPI CountWhileAllowed(LPVOID raw) {
    auto* counter = static_cast<Counter*>(raw);
    counter->started = true;
    for (;;) {
        if (!RunUnlessStopped([&] { ++counter->count; }))
            ++counter->refused;
        if (counter->refused > 1000)
            break;
    }
    return 0;
}

}  // namespace

TEST(Threads, NoGuardedActionRunsOnceTheStopHasReturned) {
    Counter counter;
    HANDLE thread = CreateThread(nullptr, 0, CountWhileAllowed, &counter, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    while (!counter.started)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(TerminateThread(thread, 0));
    int atStop = counter.count;
    ASSERT_TRUE(WaitForThreadReturn(thread, INFINITE));
    EXPECT_EQ(counter.count, atStop);
    EXPECT_GT(counter.refused.load(), 0);
    CloseHandle(thread);

    bool ran = false;
    EXPECT_TRUE(RunUnlessStopped([&] { ran = true; })) << "threads not made by CreateThread always run";
    EXPECT_TRUE(ran);
}
