// The pieces every waiting and queueing thread of the device stands on: the queue ordered by due
// time, the two pumps, the task runner, the IO sequence, and the checkers of one-thread and
// one-sequence objects.
#include <gtest/gtest.h>
#include <unistd.h>
#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <Foundation/Foundation.h>
#include <base/DelayedQueue.h>
#include <base/IoSequence.h>
#include <base/MessagePump.h>
#include <base/SequenceChecker.h>
#include <base/TaskRunner.h>
#include <base/ThreadChecker.h>

namespace {

using namespace std::chrono_literals;
using device::SteadyClock;

TEST(DelayedQueue, GivesOutWhatIsDueByTimeThenArrivalAndLetsItemsBeRemoved) {
    device::DelayedQueue<std::string> queue;
    auto now = SteadyClock::now();
    queue.push(now + 1s, "later");
    queue.push(now, "first");
    queue.push(now - 1s, "overdue");
    queue.push(now, "second");
    queue.push(now, "removed");
    EXPECT_EQ(queue.removeIf([](const std::string& item) { return item == "removed"; }),
              std::vector<std::string>{"removed"});
    std::vector<std::string> out;
    while (auto item = queue.popDue(now)) out.push_back(*item);
    EXPECT_EQ(out, (std::vector<std::string>{"overdue", "first", "second"}));
    EXPECT_EQ(queue.nextDue(), now + 1s) << "what is not due stays";
    EXPECT_FALSE(queue.popDue(now).has_value());
}

// A wake before the wait is kept, so a thread that checked its queue and then waits never misses
// work posted in between; and a pump shared by several threads wakes each of them.
TEST(MessagePump, AWakeIsNeverLostAndEachWaitingThreadCanBeWoken) {
    device::ConditionPump condition;
    auto poll = device::PollPump::make();
    ASSERT_TRUE(poll.ok()) << poll.status().message();
    for (device::MessagePump* pump : std::vector<device::MessagePump*>{&condition, poll->get()}) {
        pump->wake();
        auto start = SteadyClock::now();
        pump->waitUntil(SteadyClock::now() + 10s);
        EXPECT_LT(SteadyClock::now() - start, 5s);
        start = SteadyClock::now();
        pump->waitUntil(SteadyClock::now() + 20ms);
        EXPECT_GE(SteadyClock::now() - start, 20ms) << "the wake was used up; the deadline holds";
    }
    std::atomic<int> returned{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            condition.waitUntil(SteadyClock::time_point::max());
            returned++;
        });
    for (int i = 0; i < 3; ++i) condition.wake();
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(returned.load(), 3);
}

TEST(MessagePump, ThePollPumpReportsWhichDescriptorIsReady) {
    auto pump = device::PollPump::make();
    ASSERT_TRUE(pump.ok()) << pump.status().message();
    int pipes[2][2];
    ASSERT_EQ(pipe(pipes[0]), 0);
    ASSERT_EQ(pipe(pipes[1]), 0);
    std::vector<pollfd> watched{{pipes[0][0], POLLIN, 0}, {pipes[1][0], POLLIN, 0}};
    std::thread writer([&] {
        std::this_thread::sleep_for(20ms);
        ASSERT_EQ(write(pipes[1][1], "x", 1), 1);
    });
    (*pump)->waitUntil(watched, SteadyClock::now() + 10s);
    writer.join();
    EXPECT_EQ(watched[0].revents, 0);
    EXPECT_TRUE(watched[1].revents & POLLIN);
    for (auto& ends : pipes) {
        close(ends[0]);
        close(ends[1]);
    }
}

TEST(TaskRunner, ManyThreadsRunEveryTaskOnceAndNoneAfterTheRunnerIsGone) {
    std::atomic<int> ran{0}, late{0};
    {
        device::TaskRunner runner(4);
        for (int i = 0; i < 200; ++i) runner.postTask([&] { ran++; });
        runner.postDelayedTask(SteadyClock::now() + 10s, [&] { late++; });
        for (int i = 0; i < 500 && ran.load() < 200; ++i) std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(ran.load(), 200);
    EXPECT_EQ(late.load(), 0) << "a task not yet due when the runner goes is dropped";
}

// Waits, boundedly, until `done` holds.
template <class Condition>
void waitFor(Condition done) {
    for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(10ms);
}

TEST(IoSequence, RunsTasksInDueOrderOnItsSequenceAndAtItsEndOnlyThoseDue) {
    auto made = device::IoSequence::make();
    ASSERT_TRUE(made.ok()) << made.status().message();
    std::unique_ptr<device::IoSequence> sequence = std::move(*made);
    std::mutex lock;
    std::vector<std::string> ran;
    bool onSequence = true;
    auto record = [&](std::string what) {
        return [&, what] {
            std::lock_guard guard(lock);
            ran.push_back(what);
            onSequence = onSequence && sequence->runsTasksInCurrentSequence();
        };
    };
    sequence->postDelayedTask(SteadyClock::now() + 30ms, record("delayed"));
    sequence->postTask(record("first"));
    sequence->postTask(record("second"));
    waitFor([&] {
        std::lock_guard guard(lock);
        return ran.size() == 3;
    });
    EXPECT_FALSE(sequence->runsTasksInCurrentSequence());

    // Ended while a task runs: the task due behind it still runs, a later one and new posts do not.
    sequence->postTask([] { std::this_thread::sleep_for(50ms); });
    sequence->postTask(record("due at the end"));
    sequence->postDelayedTask(SteadyClock::now() + 10s, record("not yet due"));
    sequence->stop();
    sequence->postTask(record("after the end"));
    std::lock_guard guard(lock);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "delayed", "due at the end"}));
    EXPECT_TRUE(onSequence);
}

TEST(IoSequence, AWatchCallsBackWhileItsDescriptorIsReadyAndNeverOnceCancelled) {
    int a[2], b[2], c[2];
    ASSERT_EQ(pipe(a), 0);
    ASSERT_EQ(pipe(b), 0);
    ASSERT_EQ(pipe(c), 0);
    ASSERT_EQ(write(a[1], "x", 1), 1);
    ASSERT_EQ(write(b[1], "x", 1), 1);
    std::atomic<int> aCalls{0}, bCalls{0}, writableCalls{0};
    device::IoSequence::Watch aWatch, bWatch, writableWatch;  // outlive the sequence
    auto made = device::IoSequence::make();
    ASSERT_TRUE(made.ok()) << made.status().message();
    std::unique_ptr<device::IoSequence> sequence = std::move(*made);
    sequence->postTask([&] {
        using Readiness = device::IoSequence::Readiness;
        // Both are ready in the same turn; whichever is called first cancels the other.
        aWatch = sequence->watch(a[0], Readiness::readable, [&] {
            char byte;
            if (read(a[0], &byte, 1) == 1) aCalls++;
            bWatch.cancel();
        });
        bWatch = sequence->watch(b[0], Readiness::readable, [&] {
            char byte;
            if (read(b[0], &byte, 1) == 1) bCalls++;
            aWatch.cancel();
        });
        // Stays writable, but cancels itself at once.
        writableWatch = sequence->watch(c[1], Readiness::writable, [&] {
            writableCalls++;
            writableWatch.cancel();
        });
    });
    waitFor([&] { return aCalls + bCalls > 0 && writableCalls > 0; });
    ASSERT_EQ(write(a[1], "x", 1), 1);
    ASSERT_EQ(write(b[1], "x", 1), 1);
    waitFor([&] { return aCalls + bCalls > 1; });
    std::this_thread::sleep_for(50ms);  // time for a call that should not come
    sequence.reset();
    EXPECT_TRUE(aCalls == 0 || bCalls == 0) << aCalls << " and " << bCalls;
    EXPECT_EQ(aCalls + bCalls, 2) << "the watch left runs again when more arrives";
    EXPECT_EQ(writableCalls, 1);
    for (int* ends : {a, b, c}) {
        close(ends[0]);
        close(ends[1]);
    }
}

#ifndef NDEBUG
TEST(ThreadCheckerDeathTest, ARunLoopRunOnAThreadNotItsOwnStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the device has threads running already
    EXPECT_DEATH(
        {
            Strong<NSRunLoop> loop = makeObject<NSRunLoop>();
            std::thread owner([&] { loop->runMode_beforeDate(NSDefaultRunLoopMode, RunLoopClock::now()); });
            owner.join();
            loop->runMode_beforeDate(NSDefaultRunLoopMode, RunLoopClock::now());
        },
        "a run loop is used on a thread other than its own");
}

// A serial runner is one sequence: an object checked in one of its tasks passes in the next, and
// stops the process when used elsewhere.
TEST(SequenceCheckerDeathTest, AnObjectOfASequenceUsedOutsideItStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            device::SequenceChecker checker;
            device::TaskRunner serial(1);
            std::promise<void> checked;
            serial.postTask([&] { checker.check("a test object"); });
            serial.postTask([&] {
                checker.check("a test object");
                checked.set_value();
            });
            checked.get_future().wait();
            checker.check("the object on the test's thread");
        },
        "the object on the test's thread is used outside its own sequence");
}
#endif

}  // namespace
