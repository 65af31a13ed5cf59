#include "cli/ordered_verifier.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>

#include "scan/pe_recognition.h"
#include "scan/scan_workers.h"
#include "verify/signer_name.h"

namespace velmora::cli {
namespace {

// Files queued together when the walk hands over every file.
constexpr std::size_t kCandidateGroup = 16;

} // namespace

OrderedVerifier::OrderedVerifier(int jobs, Emit emit)
    : m_jobs(std::max(jobs, 1)),
      // Enough files in flight that one large file does not leave the other workers idle and that
      // the walk seldom waits, few enough that memory stays flat however large the tree.
      m_window(static_cast<std::size_t>(std::max(jobs, 1)) * 64), m_emit(std::move(emit)) {
    if (m_jobs > 1) {
        m_workers.reserve(static_cast<std::size_t>(m_jobs));
        for (int i = 0; i < m_jobs; ++i)
            m_workers.emplace_back([this] { WorkerLoop(); });
    }
}

OrderedVerifier::~OrderedVerifier() {
    Finish(true);
}

void OrderedVerifier::VerifyInto(VerifiedFile& file) {
    if (file.testFirst && !IsPeFile(file.fullPath)) {
        file.executable = false;
        return;
    }
    file.code = VerifyOneFile(file.fullPath);
    file.signer = g_szSignerName;
}

void OrderedVerifier::Submit(const CString& name, const CString& fullPath) {
    Enqueue(name, fullPath, false);
}

void OrderedVerifier::SubmitCandidate(const CString& name, const CString& fullPath) {
    Enqueue(name, fullPath, true);
}

void OrderedVerifier::Enqueue(const CString& name, const CString& fullPath, bool testFirst) {
    if (m_workers.empty()) {
        VerifiedFile file{name, fullPath, 0, {}, testFirst};
        VerifyInto(file);
        if (!file.executable)
            return;
        m_verified.fetch_add(1, std::memory_order_relaxed);
        m_emit(file);
        return;
    }
    if (m_flight.size() >= m_window) {
        PushPending(); // the oldest task may be waiting in the group
        while (m_flight.size() >= m_window)
            EmitReady(true);
    }
    auto task = std::make_unique<Task>();
    task->file.name = name;
    task->file.fullPath = fullPath;
    task->file.testFirst = testFirst;
    m_pending.push_back(task.get());
    m_flight.push_back(std::move(task));
    if (!testFirst || m_pending.size() >= kCandidateGroup)
        PushPending();
    EmitReady(false);
}

void OrderedVerifier::PushPending() {
    if (m_pending.empty())
        return;
    {
        std::lock_guard guard(m_lock);
        m_queue.insert(m_queue.end(), m_pending.begin(), m_pending.end());
    }
    if (m_pending.size() == 1)
        m_workAvailable.notify_one();
    else
        m_workAvailable.notify_all();
    m_pending.clear();
}

// Hands on the finished tasks at the front of the window; with wait, first waits until the
// oldest one has finished.
void OrderedVerifier::EmitReady(bool wait) {
    while (!m_flight.empty()) {
        Task* front = m_flight.front().get();
        {
            std::unique_lock guard(m_lock);
            if (wait)
                m_taskDone.wait(
                    guard, [front] { return front->state == State::Done || front->state == State::Dropped; });
            if (front->state != State::Done && front->state != State::Dropped)
                return;
        }
        // The task is finished; no worker touches it any more.
        std::unique_ptr<Task> task = std::move(m_flight.front());
        m_flight.pop_front();
        if (task->state == State::Done && task->file.executable)
            m_emit(task->file);
        wait = false;
    }
}

void OrderedVerifier::Finish(bool dropQueued) {
    if (dropQueued) {
        std::lock_guard guard(m_lock);
        for (Task* task : m_pending)
            task->state = State::Dropped;
        for (Task* task : m_queue)
            task->state = State::Dropped;
        m_queue.clear();
        m_pending.clear();
    }
    PushPending();
    while (!m_flight.empty())
        EmitReady(true);
    {
        std::lock_guard guard(m_lock);
        m_quit = true;
    }
    m_workAvailable.notify_all();
    for (auto& worker : m_workers)
        worker.join();
    m_workers.clear();
}

void OrderedVerifier::WorkerLoop() {
    // Ctrl-C belongs to the walk's thread, where it interrupts a write that waits for a reader.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    for (;;) {
        Task* task = nullptr;
        {
            std::unique_lock guard(m_lock);
            m_workAvailable.wait(guard, [this] { return m_quit || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            task = m_queue.front();
            m_queue.pop_front();
            task->state = State::Running;
        }
        // The task's file is this worker's alone until it is marked done.
        VerifyInto(task->file);
        if (task->file.executable)
            m_verified.fetch_add(1, std::memory_order_relaxed);
        {
            std::lock_guard guard(m_lock);
            task->state = State::Done;
        }
        m_taskDone.notify_all();
    }
}

} // namespace velmora::cli
