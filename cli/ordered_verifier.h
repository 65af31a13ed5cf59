// Verification of the executables a walk finds, on one thread or several, handing the results
// back in the order the walk found the files.
//
// With more than one job, a bounded window of files is in flight: worker threads verify them in
// any order, and the walk's thread hands each result on only once every file found before it has
// been handed on. Each worker reads the signer name of its own file: the signer buffer belongs to
// the thread that verified.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/cstring.h"

namespace velmora::cli {

struct VerifiedFile {
    CString name;
    CString fullPath;
    int code = 0;
    std::u16string signer;
    bool testFirst = false; // not yet known to be an executable
    bool executable = true; // false once the executable test turned it away: never handed on
};

class OrderedVerifier {
  public:
    using Emit = std::function<void(VerifiedFile&)>;

    // emit runs on the thread that calls Submit and Finish, in submission order.
    OrderedVerifier(int jobs, Emit emit);
    ~OrderedVerifier();
    OrderedVerifier(const OrderedVerifier&) = delete;
    OrderedVerifier& operator=(const OrderedVerifier&) = delete;

    // Verifies the file (or queues it), then hands on whatever is ready in order. Blocks only while
    // the window is full.
    void Submit(const CString& name, const CString& fullPath);

    // Any file the walk counted: tested on a worker, verified there when it is an executable, and
    // handed on in walk order only then. Files are queued in small groups, so that a tree of small
    // files costs the workers one wake-up per group rather than per file.
    void SubmitCandidate(const CString& name, const CString& fullPath);

    // Hands on every file still in flight, waiting for them. With dropQueued, files no worker has
    // started are dropped instead (a stopped scan); those already being verified still finish.
    void Finish(bool dropQueued);

    // Files whose verification has ended, on any thread.
    long Verified() const { return m_verified.load(std::memory_order_relaxed); }

  private:
    enum class State { Queued, Running, Done, Dropped };
    struct Task {
        VerifiedFile file;
        State state = State::Queued;
    };

    void Enqueue(const CString& name, const CString& fullPath, bool testFirst);
    void PushPending();
    void WorkerLoop();
    void EmitReady(bool wait);
    static void VerifyInto(VerifiedFile& file);

    const int m_jobs;
    const std::size_t m_window;
    Emit m_emit;
    std::atomic<long> m_verified{0};

    std::mutex m_lock;
    std::condition_variable m_workAvailable;
    std::condition_variable m_taskDone;
    std::deque<Task*> m_queue;                  // not started yet, oldest first
    std::deque<std::unique_ptr<Task>> m_flight; // every task not handed on, in walk order
    std::vector<Task*> m_pending;               // the walk's group not yet queued (walk thread only)
    bool m_quit = false;
    std::vector<std::thread> m_workers;
};

} // namespace velmora::cli
