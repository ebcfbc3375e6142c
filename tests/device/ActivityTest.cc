// Process activity and the frame origin: what the demo, the live view and the end-to-end
// benchmarks read about the device's processes.
#include <gtest/gtest.h>

#include <unistd.h>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include <MRYIPC/ChannelFrame.h>
#include <activity/ProcessActivity.h>
#include <dispatch/dispatch.h>

#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

using device::Activity;
using device::CallKind;
using device::FrameOrigin;
using device::LatencyHistogram;

TEST(LatencyHistogram, ReadsPercentilesWithinItsBucketWidth) {
    LatencyHistogram histogram;
    EXPECT_EQ(histogram.percentileMicros(0.5), 0);
    for (uint64_t micros = 1; micros <= 1000; ++micros) histogram.add(micros * 1000);
    EXPECT_EQ(histogram.count(), 1000u);
    EXPECT_NEAR(histogram.percentileMicros(0.5), 500, 500 * 0.035);
    EXPECT_NEAR(histogram.percentileMicros(0.99), 990, 990 * 0.035);
    EXPECT_NEAR(histogram.percentileMicros(1.0), 1000, 1000 * 0.035);

    LatencyHistogram small;  // exact below 32 µs
    for (int i = 0; i < 3; ++i) small.add(7'400);
    small.add(20'000);
    EXPECT_EQ(small.percentileMicros(0.5), 7.5);
    EXPECT_EQ(small.percentileMicros(1.0), 20.5);

    LatencyHistogram huge;  // beyond the last bucket: counted in it, not lost
    huge.add(uint64_t{1} << 62);
    EXPECT_EQ(huge.count(), 1u);
    EXPECT_GT(huge.percentileMicros(0.5), 1e9);

    small.merge(histogram);
    EXPECT_EQ(small.count(), 1004u);

    // The stretch after a copy: only what came later counts.
    LatencyHistogram before = small;
    for (int i = 0; i < 9; ++i) small.add(50'000'000);
    LatencyHistogram later = small.since(before);
    EXPECT_EQ(later.count(), 9u);
    EXPECT_NEAR(later.percentileMicros(0.5), 50'000, 50'000 * 0.035);
    EXPECT_EQ(before.since(small).count(), 0u) << "no bucket goes below zero";
}

TEST(FrameOrigin, TravelsWithDispatchedBlocksAndEndsWithItsScope) {
    Strong<DispatchQueue> queue = dispatch_queue_create("origin test", DISPATCH_QUEUE_SERIAL);
    std::mutex lock;
    std::condition_variable ran;
    std::vector<FrameOrigin> seen;
    auto record = [&] {
        std::lock_guard hold(lock);
        seen.push_back(device::currentFrameOrigin());
        ran.notify_all();
    };
    {
        device::FrameOriginScope scope({1234, CallKind::acknowledged});
        dispatch_async(queue, makeBlock(record));
        dispatch_sync(queue, makeBlock(record));
        {
            device::FrameOriginScope inner({99, CallKind::fireAndForget});
            EXPECT_EQ(device::currentFrameOrigin().nanos, 99u);
        }
        EXPECT_EQ(device::currentFrameOrigin().nanos, 1234u);
    }
    EXPECT_EQ(device::currentFrameOrigin().nanos, 0u);
    dispatch_async(queue, makeBlock(record));
    std::unique_lock hold(lock);
    ASSERT_TRUE(ran.wait_for(hold, std::chrono::seconds(10), [&] { return seen.size() == 3; }));
    EXPECT_EQ(seen[0].nanos, 1234u);
    EXPECT_EQ(seen[0].callKind, CallKind::acknowledged);
    EXPECT_EQ(seen[1].nanos, 1234u);
    EXPECT_EQ(seen[2].nanos, 0u);  // submitted with no origin: the worker's is not left over
}

TEST(FrameOrigin, CrossesTheChannelInTheCallFrame) {
    std::string bytes;
    ASSERT_EQ(device::ipc::encodeCall(device::ipc::FrameKind::voidCall, 0, 0x0102030405060708ull,
                                      "_updateColors:", NSSTR("0.5,0.5,0.5,1"), bytes)
                  .message(),
              "");
    device::ipc::Frame frame;
    ASSERT_EQ(device::ipc::decodeFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), frame).message(),
              "");
    EXPECT_EQ(frame.origin, 0x0102030405060708ull);
    // A reply carries none, and a frame cut inside the origin is refused.
    ASSERT_TRUE(device::ipc::encodeReply(1, nil, bytes).ok());
    ASSERT_TRUE(device::ipc::decodeFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), frame).ok());
    EXPECT_EQ(frame.origin, 0u);
    ASSERT_TRUE(device::ipc::encodeCall(device::ipc::FrameKind::voidCall, 0, 5, "s:", nil, bytes).ok());
    EXPECT_FALSE(device::ipc::decodeFrame(reinterpret_cast<const uint8_t*>(bytes.data()), 9, frame).ok());
}

// Counting happens in a child, as in the device's own processes; the record outlives it.
TEST(ProcessActivity, AChildsRecordIsReadAfterItEnds) {
    TempDirectory directory;
    setenv("GLIMMORA_DEVICE", directory.path().c_str(), 1);
    pid_t childPid = 0;
    std::string report = runInChild([&] {
        device::countActivity(Activity::callsSentAcknowledged, 3);
        device::countActivity(Activity::writesIssued);
        device::recordCallReceived(
            "0.250000,0.500000,0.750000,1.000000 and a good deal more text than the record keeps");
        device::recordWriteLatency({device::monotonicNanos() - 2'000'000, CallKind::fireAndForget});
        device::recordWriteLatency({});  // no origin: nothing to time
        return std::string();
    });
    unsetenv("GLIMMORA_DEVICE");
    ASSERT_EQ(report, "");

    std::vector<device::ActivitySnapshot> records = device::readDeviceActivity(directory.path());
    ASSERT_EQ(records.size(), 1u);
    const device::ActivitySnapshot& record = records[0];
    childPid = record.pid;
    EXPECT_NE(childPid, getpid());
    EXPECT_EQ(record[Activity::callsSentAcknowledged], 3u);
    EXPECT_EQ(record[Activity::writesIssued], 1u);
    EXPECT_EQ(record[Activity::writesFailed], 0u);
    EXPECT_EQ(record.lastCall.size(), 63u);
    EXPECT_EQ(record.lastCall.rfind("0.250000,0.500000,0.750000,1.000000", 0), 0u);
    EXPECT_GT(record.lastCallNanos, 0u);
    const LatencyHistogram& timed = record.latency[static_cast<size_t>(CallKind::fireAndForget)];
    ASSERT_EQ(timed.count(), 1u);
    EXPECT_GE(timed.percentileMicros(0.5), 1900);
    EXPECT_EQ(record.latency[static_cast<size_t>(CallKind::none)].count(), 0u);

    device::ActivitySnapshot same;
    ASSERT_TRUE(device::readProcessActivity(directory.path(), childPid, same));
    EXPECT_EQ(same[Activity::callsSentAcknowledged], 3u);
    EXPECT_FALSE(device::readProcessActivity(directory.path(), getpid(), same));
}
