// The main run loop, its modes and timers, and the dispatch queues served by it and by threads.
#include <gtest/gtest.h>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

namespace {

using namespace std::chrono_literals;

// The tests run on the process's main thread, so the main run loop is theirs to run.
class MainRunLoop : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(NSThread::isMainThread()); }
    NSRunLoop* loop = NSRunLoop::mainRunLoop();
    void runFor(std::chrono::milliseconds time) { loop->runUntilDate(RunLoopClock::now() + time); }
};

TEST_F(MainRunLoop, RunsPostedWorkInOrderAndDelayedWorkNotBeforeItsTime) {
    std::vector<int> order;
    auto start = RunLoopClock::now();
    RunLoopClock::time_point delayedAt{};
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 30 * NSEC_PER_MSEC), dispatch_get_main_queue(), makeBlock([&] {
                       order.push_back(3);
                       delayedAt = RunLoopClock::now();
                   }));
    dispatch_async(dispatch_get_main_queue(), makeBlock([&] { order.push_back(1); }));
    dispatch_async(dispatch_get_main_queue(), makeBlock([&] { order.push_back(2); }));
    runFor(100ms);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_GE(delayedAt - start, 30ms);
}

TEST_F(MainRunLoop, TimersFireOnlyInTheModesTheyWereAddedFor) {
    std::atomic<int> fires{0};
    auto timer = makeObject<RunLoopTimer>(RunLoopClock::now(), 5ms, [&] { fires++; });
    loop->addTimer_forMode(timer, NSDefaultRunLoopMode);
    loop->runMode_beforeDate(UITrackingRunLoopMode, RunLoopClock::now() + 40ms);
    EXPECT_EQ(fires.load(), 0) << "no fires while the loop runs in another mode";
    runFor(40ms);
    int fired = fires.load();
    EXPECT_GE(fired, 2) << "a repeating timer fires again";
    timer->invalidate();
    runFor(20ms);
    EXPECT_EQ(fires.load(), fired) << "an invalidated timer fires no more";
}

TEST_F(MainRunLoop, ATimerAddedForTheCommonModesFiresInTrackingMode) {
    int fires = 0;
    auto timer = makeObject<RunLoopTimer>(RunLoopClock::now(), RunLoopClock::duration::zero(), [&] { fires++; });
    loop->addTimer_forMode(timer, NSRunLoopCommonModes);
    loop->runMode_beforeDate(UITrackingRunLoopMode, RunLoopClock::now() + 50ms);
    EXPECT_EQ(fires, 1);
    EXPECT_FALSE(timer->isValid()) << "a one-shot timer is spent";
    loop->removeTimer_forMode(timer, NSRunLoopCommonModes);
}

// What a spent timer held may, in its dealloc, post to the same run loop (a display link's target
// leaving it); the run loop must not hold its lock while it lets go of a timer.
int postedFromDealloc = 0;
void deallocPostingToTheMainRunLoop(id self, SEL) {
    NSRunLoop::mainRunLoop()->performBlock(makeBlock([] { postedFromDealloc++; }));
    object_dispose(self);
}

TEST_F(MainRunLoop, ATimerLetGoOfLastMayReleaseWhatPostsToTheSameRunLoop) {
    Class cls = objc_allocateClassPair(NSObject::objcClass(), "PostsWhenDeallocated", 0);
    objc_registerClassPair(cls);
    class_addMethod(cls, SEL_(dealloc), reinterpret_cast<IMP>(deallocPostingToTheMainRunLoop), "v@:");
    {
        Strong<NSObject> held = Strong<NSObject>::adopt(class_createInstance(cls, 0));
        loop->addTimer_forMode(makeObject<RunLoopTimer>(RunLoopClock::now(), RunLoopClock::duration::zero(), [held] {}),
                               NSDefaultRunLoopMode);
    }
    runFor(30ms);
    runFor(30ms);
    EXPECT_EQ(postedFromDealloc, 1);
}

TEST_F(MainRunLoop, StopEndsRunFromAnotherThread) {
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        loop->stop();
    });
    auto start = RunLoopClock::now();
    loop->runUntilDate(RunLoopClock::now() + 10s);
    stopper.join();
    EXPECT_LT(RunLoopClock::now() - start, 5s);
}

TEST_F(MainRunLoop, DispatchSyncFromAnotherThreadWaitsForTheMainThreadToRunTheBlock) {
    std::atomic<bool> ranOnMain{false}, returned{false};
    std::thread caller([&] {
        dispatch_sync(dispatch_get_main_queue(), makeBlock([&] {
                          std::this_thread::sleep_for(10ms);
                          ranOnMain = NSThread::isMainThread();
                      }));
        returned = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(returned.load()) << "nothing runs the main queue yet";
    while (!returned.load()) runFor(5ms);
    caller.join();
    EXPECT_TRUE(ranOnMain.load());
}

TEST(DispatchQueues, ABlockMayHoldTheLastReferenceToItsOwnQueue) {
    std::atomic<bool> ran{false}, gone{false};
    {
        Strong<DispatchQueue> queue = dispatch_queue_create("test.self", DISPATCH_QUEUE_SERIAL);
        // Its deleter runs when the block, and every copy of what it captured, has gone.
        std::shared_ptr<void> witness(nullptr, [&gone](void*) { gone = true; });
        // The block keeps the queue; once it has run and is let go, the queue goes on its own worker.
        dispatch_async(queue, makeBlock([queue, witness, &ran] { ran = true; }).get());
    }
    auto start = RunLoopClock::now();
    while (!gone && RunLoopClock::now() - start < 5s) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(ran.load());
    EXPECT_TRUE(gone.load());
    std::this_thread::sleep_for(50ms);  // the worker finishes after the queue is gone (ASan watches)
}

TEST(DispatchQueues, ASerialQueueRunsInOrderOffTheMainThreadAndHonoursDelays) {
    auto queue = dispatch_queue_create("test.serial", DISPATCH_QUEUE_SERIAL);
    std::mutex lock;
    std::vector<int> order;
    std::atomic<bool> offMain{true};
    auto start = RunLoopClock::now();
    std::atomic<long> delayedAfterMs{-1};
    // The delay is long enough that the blocks due now have run before it ends, unless this
    // machine stalled the test for that long; that is checked below rather than assumed.
    constexpr long kDelayMs = 200;
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, kDelayMs * NSEC_PER_MSEC), queue, makeBlock([&] {
                       delayedAfterMs =
                           std::chrono::duration_cast<std::chrono::milliseconds>(RunLoopClock::now() - start).count();
                       std::lock_guard<std::mutex> guard(lock);
                       order.push_back(4);
                   }));
    for (int i = 1; i <= 3; ++i)
        dispatch_async(queue, makeBlock([&, i] {
                           if (NSThread::isMainThread()) offMain = false;
                           std::lock_guard<std::mutex> guard(lock);
                           order.push_back(i);
                       }));
    dispatch_sync(queue, makeBlock([] {}));
    bool beforeTheDelay = RunLoopClock::now() - start < std::chrono::milliseconds(kDelayMs);
    {
        std::lock_guard<std::mutex> guard(lock);
        ASSERT_GE(order.size(), 3u);
        if (beforeTheDelay) {
            EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 3), (std::vector<int>{1, 2, 3}))
                << "work due now runs in order, before the delayed block";
        }
    }
    while (delayedAfterMs.load() < 0 && RunLoopClock::now() - start < 5s) std::this_thread::sleep_for(5ms);
    dispatch_sync(queue, makeBlock([] {}));
    std::lock_guard<std::mutex> guard(lock);
    std::vector<int> dueNow;
    for (int i : order)
        if (i != 4) dueNow.push_back(i);
    EXPECT_EQ(dueNow, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(order.size(), 4u) << "the delayed block ran once";
    if (beforeTheDelay) {
        EXPECT_EQ(order.back(), 4);
    }
    EXPECT_GE(delayedAfterMs.load(), kDelayMs);
    EXPECT_TRUE(offMain.load());
}

TEST(DispatchOnce, RunsOnceWhenManyThreadsRaceAndLetsNoneThroughEarly) {
    static dispatch_once_t predicate = 0;
    std::atomic<int> runs{0}, sawUnfinished{0};
    std::atomic<bool> finished{false};
    auto block = makeBlock([&] {
        runs++;
        std::this_thread::sleep_for(20ms);
        finished = true;
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            dispatch_once(&predicate, block);
            if (!finished.load()) sawUnfinished++;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(sawUnfinished.load(), 0);
}

}  // namespace
