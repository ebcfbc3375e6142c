// The channel's hot paths: what a video app pays per colour message, one way and there and back.
//
// The server is a real second process (channel_peer, quiet), so the round trip crosses processes
// as it does on the device.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include <Foundation/Foundation.h>
#include <MRYIPC/ChannelFrame.h>
#include <MRYIPC/MRYIPCCenter.h>
#include <apps/GlimmoraContract.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

constexpr const char* kColourMessage = "1.000000,0.501961,0.250980,1.000000";

// One serving peer for the whole run, in a device directory of its own.
struct ServingPeer {
    ServingPeer() : name("bench.channel." + std::to_string(getpid())) {
        setenv("GLIMMORA_DEVICE", directory.path().c_str(), 1);
        process = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{buildDirectory() + "/channel_peer", "serve", name, "quiet"});
        ready = BackgroundProcess::waitFor([&] { return process->out().find("serving") != std::string::npos; });
    }
    TempDirectory directory;
    std::string name;
    std::unique_ptr<BackgroundProcess> process;
    bool ready = false;
};

ServingPeer& peer() {
    static ServingPeer shared;
    return shared;
}

void BM_ChannelCenterNamed(benchmark::State& state) {
    Strong<NSString> name = NSString::stringWithUTF8String(device::kColourChannelName);
    for (auto _ : state) benchmark::DoNotOptimize(MRYIPCCenter::centerNamed(name));
}
BENCHMARK(BM_ChannelCenterNamed);

void BM_ChannelFrameRoundTrip(benchmark::State& state) {
    Strong<NSString> message = NSString::stringWithUTF8String(kColourMessage);
    std::string bytes;
    device::ipc::Frame frame;
    for (auto _ : state) {
        (void)device::ipc::encodeCall(device::ipc::FrameKind::voidCall, 0, 0, device::kColourMethodName, message,
                                      bytes);
        (void)device::ipc::decodeFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), frame);
        benchmark::DoNotOptimize(frame.value.get());
    }
}
BENCHMARK(BM_ChannelFrameRoundTrip);

// The fire-and-forget send as the display-link path makes it: look up the center, send, return.
void BM_ChannelVoidSend(benchmark::State& state) {
    if (!peer().ready) return state.SkipWithError("the serving peer did not start");
    Strong<NSString> name = NSString::stringWithString(peer().name);
    Strong<NSString> message = NSString::stringWithUTF8String(kColourMessage);
    for (auto _ : state) {
        MRYIPCCenter::centerNamed(name)->callExternalVoidMethod_withArguments(SEL_(note:), message);
    }
}
BENCHMARK(BM_ChannelVoidSend);

// The acknowledged send, waited for: call, delivery in the other process, reply, completion.
void BM_ChannelAcknowledgedRoundTrip(benchmark::State& state) {
    if (!peer().ready) return state.SkipWithError("the serving peer did not start");
    Strong<NSString> name = NSString::stringWithString(peer().name);
    Strong<NSString> message = NSString::stringWithUTF8String(kColourMessage);
    struct Replies {
        std::mutex lock;
        std::condition_variable arrived;
        long count = 0;
    };
    auto replies = std::make_shared<Replies>();
    auto completion = makeBlock([replies](id) {
        {
            std::lock_guard lock(replies->lock);
            replies->count++;
        }
        replies->arrived.notify_one();  // after unlocking, so the woken thread does not wait for it
    });
    // A full socket drops calls (the fire-and-forget benchmark may have just filled it): wait until
    // the server has caught up and a call comes back.
    for (int attempt = 0; attempt < 100; ++attempt) {
        MRYIPCCenter::centerNamed(name)->callExternalMethod_withArguments_completion(SEL_(echo:), message, completion);
        std::unique_lock lock(replies->lock);
        if (replies->arrived.wait_for(lock, std::chrono::milliseconds(100), [&] { return replies->count > 0; })) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // for replies still on their way
    long expected;
    {
        std::lock_guard lock(replies->lock);
        expected = replies->count;
    }
    for (auto _ : state) {
        MRYIPCCenter::centerNamed(name)->callExternalMethod_withArguments_completion(SEL_(echo:), message, completion);
        ++expected;
        std::unique_lock lock(replies->lock);
        if (!replies->arrived.wait_for(lock, std::chrono::seconds(2), [&] { return replies->count == expected; })) {
            state.SkipWithError("a reply did not come");
            break;
        }
    }
}
BENCHMARK(BM_ChannelAcknowledgedRoundTrip)->UseRealTime();

}  // namespace
