#include "TaskRunner.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "DelayedQueue.h"
#include "MessagePump.h"
#include "SequenceToken.h"

namespace device {

struct TaskRunner::Shared {
    explicit Shared(int threads)
        : threadLimit(threads), sequence(threads == 1 ? SequenceToken::make() : SequenceToken()) {}
    const int threadLimit;
    const SequenceToken sequence;  // valid when the runner is serial
    ConditionPump pump;
    mutable std::mutex lock;  // guards what follows
    DelayedQueue<Task> tasks;
    std::vector<std::thread> threads;
    int idleThreads = 0;
    bool closing = false;
};

TaskRunner::TaskRunner(int threads) : shared_(std::make_shared<Shared>(std::max(threads, 1))) {}

TaskRunner::~TaskRunner() {
    std::vector<std::thread> threads;
    {
        std::lock_guard guard(shared_->lock);
        shared_->closing = true;
        threads.swap(shared_->threads);
    }
    for (size_t i = 0; i < threads.size(); ++i) shared_->pump.wake();
    // A task may drop the runner's last reference on a thread of its own: that thread cannot join
    // itself, so it is let go, and finishes with the state it shares.
    for (std::thread& thread : threads) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
}

void TaskRunner::postDelayedTask(SteadyClock::time_point due, Task task) {
    if (!task) return;
    {
        std::lock_guard guard(shared_->lock);
        if (shared_->closing) return;
        shared_->tasks.push(due, std::move(task));
        // A new thread only when every thread is busy: an idle one takes the task once woken.
        if (shared_->idleThreads == 0 && shared_->threads.size() < static_cast<size_t>(shared_->threadLimit)) {
            shared_->threads.emplace_back([shared = shared_] { work(*shared); });
            return;
        }
    }
    shared_->pump.wake();
}

bool TaskRunner::runsTasksOnCurrentThread() const {
    std::lock_guard guard(shared_->lock);
    return std::any_of(shared_->threads.begin(), shared_->threads.end(),
                       [](const std::thread& thread) { return thread.get_id() == std::this_thread::get_id(); });
}

void TaskRunner::work(Shared& shared) {
    SequenceToken::Scope sequence(shared.sequence);
    std::unique_lock guard(shared.lock);
    while (true) {
        if (std::optional<Task> task = shared.tasks.popDue(SteadyClock::now())) {
            // Another thread may be needed for what is left while this one runs the task.
            if (!shared.tasks.empty() && shared.idleThreads > 0) shared.pump.wake();
            guard.unlock();
            (*task)();
            task.reset();  // released here, not under the lock: a task's captures may do anything
            guard.lock();
            continue;
        }
        if (shared.closing) return;
        SteadyClock::time_point due = shared.tasks.nextDue();
        ++shared.idleThreads;
        guard.unlock();
        shared.pump.waitUntil(due);
        guard.lock();
        --shared.idleThreads;
    }
}

}  // namespace device
