#include "IoSequence.h"

#include <poll.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "DelayedQueue.h"
#include "MessagePump.h"
#include "SequenceToken.h"

namespace device {

struct IoSequence::Shared {
    explicit Shared(std::unique_ptr<PollPump> made) : pump(std::move(made)) {}

    // Watches are the sequence's own: made and cancelled on it, or once its thread has stopped.
    void checkOnSequence(const char* what) const {
#ifndef NDEBUG
        if (SequenceToken::current() == sequence || !running.load()) return;
        std::fprintf(stderr, "%s outside its IO sequence\n", what);
        std::abort();
#endif
    }

    const std::unique_ptr<PollPump> pump;
    const SequenceToken sequence = SequenceToken::make();
    std::thread thread;               // the object's to start, join or let go
    std::atomic<bool> running{true};  // until the thread has left the loop

    std::mutex lock;                    // guards what follows
    std::atomic<bool> stopping{false};  // set under the lock, read without it
    DelayedQueue<Task> tasks;

    struct Watcher {
        pollfd polled;
        std::shared_ptr<std::function<void()>> ready;  // held while it runs, should it cancel itself
    };
    std::map<uint64_t, Watcher> watchers;  // by id; the sequence's own
    uint64_t lastWatch = 0;
};

StatusOr<std::unique_ptr<IoSequence>> IoSequence::make() {
    StatusOr<std::unique_ptr<PollPump>> pump = PollPump::make();
    if (!pump.ok()) return pump.status();
    auto shared = std::make_shared<Shared>(std::move(*pump));
    shared->thread = std::thread([shared] { run(*shared); });
    return std::unique_ptr<IoSequence>(new IoSequence(std::move(shared)));
}

IoSequence::IoSequence(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

IoSequence::~IoSequence() { stop(); }

void IoSequence::stop() {
    if (!shared_->thread.joinable()) return;
    {
        std::lock_guard guard(shared_->lock);
        shared_->stopping = true;
    }
    shared_->pump->wake();
    // Ended by a task of its own: that thread cannot join itself, so it is let go, and finishes with
    // the state it shares.
    if (shared_->thread.get_id() == std::this_thread::get_id())
        shared_->thread.detach();
    else
        shared_->thread.join();
}

void IoSequence::postDelayedTask(SteadyClock::time_point due, Task task) {
    if (!task) return;
    {
        std::lock_guard guard(shared_->lock);
        if (shared_->stopping) return;  // `task` is released after the lock is let go
        shared_->tasks.push(due, std::move(task));
    }
    shared_->pump->wake();
}

bool IoSequence::runsTasksInCurrentSequence() const { return SequenceToken::current() == shared_->sequence; }

IoSequence::Watch IoSequence::watch(int fd, Readiness readiness, std::function<void()> ready) {
    shared_->checkOnSequence("a descriptor is watched");
    uint64_t id = ++shared_->lastWatch;
    short events = readiness == Readiness::readable ? POLLIN : POLLOUT;
    shared_->watchers[id] = {{fd, events, 0}, std::make_shared<std::function<void()>>(std::move(ready))};
    return Watch(shared_, id);
}

IoSequence::Watch::Watch(Watch&& other) noexcept : shared_(std::move(other.shared_)), id_(other.id_) { other.id_ = 0; }

IoSequence::Watch& IoSequence::Watch::operator=(Watch&& other) noexcept {
    if (this != &other) {
        cancel();
        shared_ = std::move(other.shared_);
        id_ = other.id_;
        other.id_ = 0;
    }
    return *this;
}

void IoSequence::Watch::cancel() {
    if (id_ == 0) return;
    if (std::shared_ptr<Shared> shared = shared_.lock()) {
        shared->checkOnSequence("a watch is cancelled");
        shared->watchers.erase(id_);
    }
    shared_.reset();
    id_ = 0;
}

// Each turn runs the tasks due at its start, then waits (not at all when more are due) for the
// watched descriptors and runs the callbacks of those that are ready. So neither tasks nor
// descriptors can keep the other waiting for more than a turn. Once the sequence ends, turns run
// only the tasks due, until none is.
void IoSequence::run(Shared& shared) {
    SequenceToken::Scope sequence(shared.sequence);
    std::vector<Task> due;
    std::vector<pollfd> polled;
    std::vector<uint64_t> polledIds;
    while (true) {
        bool ending;
        SteadyClock::time_point next;
        {
            std::lock_guard guard(shared.lock);
            ending = shared.stopping;
            for (auto now = SteadyClock::now(); auto task = shared.tasks.popDue(now);) due.push_back(std::move(*task));
            next = shared.tasks.nextDue();
        }
        for (Task& task : due) {
            task();
            task = nullptr;  // released now: a task's captures may do anything when they go
        }
        const bool ranAny = !due.empty();
        due.clear();
        if (ending) {
            if (ranAny) continue;
            break;
        }

        polled.clear();
        polledIds.clear();
        for (auto& [id, watcher] : shared.watchers) {
            polled.push_back(watcher.polled);
            polledIds.push_back(id);
        }
        // A post made after `next` was read has woken the pump, so the wait returns for it.
        shared.pump->waitUntil(polled, next);
        for (size_t i = 0; i < polled.size() && !shared.stopping; ++i) {
            if (polled[i].revents == 0) continue;
            auto found = shared.watchers.find(polledIds[i]);
            if (found == shared.watchers.end()) continue;  // cancelled by a callback before it
            std::shared_ptr<std::function<void()>> ready = found->second.ready;
            (*ready)();
        }
    }
    shared.running = false;
}

}  // namespace device
