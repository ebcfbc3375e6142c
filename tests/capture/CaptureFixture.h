// What the capture tests share: a video app's classes with the library's hooks installed, the
// settings the capture paths read, and a colour server in this process that records what reaches
// it. The frame clock's tests add full-screen players whose view shows a picture of their choosing.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <AVKit/AVFullScreenViewController.h>
#include <CoreGraphics/CoreGraphics.h>
#include <Foundation/Foundation.h>
#include <MRYIPC/MRYIPCCenter.h>
#include <QuartzCore/CADisplayLink.h>
#include <apps/SimulatedProcess.h>

#include "globals/Globals.h"
#include "library/HookTable.h"
#include "platform/Channel.h"
#include "support/TempDirectory.h"

// Receives colour messages as the home screen would, on the channel's own thread.
class RecordingServer : public NSObject {
public:
    static Class objcClass();
    std::vector<std::string> messages() {
        std::lock_guard hold(lock);
        return received;
    }
    size_t count() {
        std::lock_guard hold(lock);
        return received.size();
    }
    std::mutex lock;
    std::vector<std::string> received;
};

// Sets `*flag` when it goes: an associated object that tells when its owner was deallocated.
class DeallocWitness : public NSObject {
public:
    static Class objcClass();
    ~DeallocWitness() override { *flag = true; }
    std::atomic<bool>* flag = nullptr;
};

class CaptureTest : public ::testing::Test {
protected:
    // One device, hooks and server for the whole program: hooks cannot be taken out again.
    static void SetUpTestSuite();
    // "Active" on, readyForUpdates YES, nothing received yet.
    void SetUp() override;

    static void setActive(bool on);

    // Runs the main run loop until `condition` holds or `limit` passes; returns whether it held.
    template <class F>
    static bool runUntil(F condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        auto deadline = RunLoopClock::now() + limit;
        while (!condition()) {
            if (RunLoopClock::now() >= deadline) return false;
            NSRunLoop::mainRunLoop()->runMode_beforeDate(NSDefaultRunLoopMode,
                                                         RunLoopClock::now() + std::chrono::milliseconds(5));
        }
        return true;
    }
    static void runFor(std::chrono::milliseconds duration) {
        runUntil([] { return false; }, duration);
    }

    static TempDirectory* device;
    static RecordingServer* server;
};

class FrameClockTest : public CaptureTest {
protected:
    // A player whose video shows one solid colour (bytes blue, green, red).
    static Strong<AVFullScreenViewController> makePlayer(uint8_t blue, uint8_t green, uint8_t red);
    // Sets `*gone` when `object` is deallocated.
    static void watchDeallocation(id object, std::atomic<bool>* gone);
    static id displayLinkOf(id player) { return objc_msgSend<id>(player, SEL_(displayLink)); }
};
