#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "../Foundation/NSRunLoop.h"
#include "../Foundation/NSThread.h"

#include "../activity/FrameOrigin.h"
#include "../base/TaskRunner.h"
#include "dispatch.h"

namespace {

// A block submitted while a frame origin is set runs with that origin, on whatever thread runs it.
Strong<Block<void()>> carryingFrameOrigin(dispatch_block_t block) {
    device::FrameOrigin origin = device::currentFrameOrigin();
    if (origin.nanos == 0 || block == nullptr) return Strong<Block<void()>>(block);
    Strong<Block<void()>> held(block);
    return makeBlock([held, origin] {
        device::FrameOriginScope scope(origin);
        (*held)();
    });
}

RunLoopClock::time_point toTimePoint(dispatch_time_t when) {
    if (when == DISPATCH_TIME_NOW) return RunLoopClock::now();
    if (when == DISPATCH_TIME_FOREVER) return RunLoopClock::time_point::max();
    return RunLoopClock::time_point(std::chrono::nanoseconds(when));
}

class MainQueue final : public DispatchQueue {
public:
    void enqueue(dispatch_block_t block, dispatch_time_t when) override {
        NSRunLoop* main = NSRunLoop::mainRunLoop();
        RunLoopClock::time_point due = toTimePoint(when);
        if (due <= RunLoopClock::now()) {
            main->performBlock(block);
            return;
        }
        Strong<Block<void()>> held(block);
        auto timer = makeObject<RunLoopTimer>(due, RunLoopClock::duration::zero(), [held] { (*held)(); });
        main->addTimer_forMode(timer, NSRunLoopCommonModes);
    }
    BOOL isCurrent() const override { return NSThread::isMainThread(); }
};

// Blocks ordered by due time and then by arrival, run by a task runner with `threads` threads.
class RunnerQueue final : public DispatchQueue {
public:
    explicit RunnerQueue(int threads) : runner_(threads) {}

    void enqueue(dispatch_block_t block, dispatch_time_t when) override {
        if (block == nullptr) return;
        Strong<Block<void()>> held(block);
        runner_.postDelayedTask(toTimePoint(when), [held] { (*held)(); });
    }

    BOOL isCurrent() const override { return runner_.runsTasksOnCurrentThread(); }

private:
    device::TaskRunner runner_;
};

}  // namespace

Class DispatchQueue::objcClass() {
    static Class cls = objc_defineClass<NSObject>("OS_dispatch_queue", NSObject::objcClass());
    return cls;
}

dispatch_queue_t dispatch_get_main_queue() {
    static DispatchQueue* main = [] {
        auto queue = new MainQueue();
        queue->isa = DispatchQueue::objcClass();
        return queue;
    }();
    return main;
}

dispatch_queue_t dispatch_get_global_queue(long, unsigned long) {
    static DispatchQueue* global = [] {
        auto queue = new RunnerQueue(4);
        queue->isa = DispatchQueue::objcClass();
        return queue;
    }();
    return global;
}

Strong<DispatchQueue> dispatch_queue_create(const char*, dispatch_queue_attr_t) {
    auto queue = new RunnerQueue(1);
    queue->isa = DispatchQueue::objcClass();
    return Strong<DispatchQueue>::adopt(queue);
}

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta) {
    if (when == DISPATCH_TIME_FOREVER) return when;
    int64_t base = std::chrono::duration_cast<std::chrono::nanoseconds>(toTimePoint(when).time_since_epoch()).count();
    int64_t result = base + delta;
    return result <= 0 ? 1 : static_cast<dispatch_time_t>(result);
}

void dispatch_async(dispatch_queue_t queue, dispatch_block_t block) {
    if (queue) queue->enqueue(carryingFrameOrigin(block), DISPATCH_TIME_NOW);
}

void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block) {
    if (queue) queue->enqueue(carryingFrameOrigin(block), when);
}

void dispatch_sync(dispatch_queue_t queue, dispatch_block_t block) {
    if (queue == nullptr || block == nullptr) return;
    if (queue->isCurrent()) {
        std::fprintf(stderr, "dispatch_sync called on the queue it is running on: this would never return\n");
        std::abort();
    }
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    Strong<Block<void()>> held = carryingFrameOrigin(block);
    auto wrapper = makeBlock([&] {
        (*held)();
        std::lock_guard<std::mutex> guard(lock);
        done = true;
        finished.notify_all();
    });
    queue->enqueue(wrapper, DISPATCH_TIME_NOW);
    std::unique_lock<std::mutex> guard(lock);
    finished.wait(guard, [&] { return done; });
}

void dispatch_once(dispatch_once_t* predicate, dispatch_block_t block) {
    static std::mutex lock;
    static std::condition_variable settled;
    std::atomic_ref<long> state(*predicate);  // 0 not run, 1 running, 2 done
    if (state.load(std::memory_order_acquire) == 2) return;
    {
        std::unique_lock<std::mutex> guard(lock);
        if (state.load() == 1) {
            settled.wait(guard, [&] { return state.load() == 2; });
            return;
        }
        if (state.load() == 2) return;
        state.store(1);
    }
    (*block)();
    {
        std::lock_guard<std::mutex> guard(lock);
        state.store(2, std::memory_order_release);
    }
    settled.notify_all();
}
