// AVSampleBufferDisplayLayer: the layer to which video apps hand their compressed samples. It
// exists only in the video apps' processes (the process set-up registers it).
#pragma once

#include <atomic>

#include <CoreMedia/CMSampleBuffer.h>
#include <QuartzCore/CALayer.h>

class AVSampleBufferDisplayLayer : public CALayer {
public:
    static Class objcClass();
    // How many samples the layer itself has received.
    long enqueuedSampleCount() const { return enqueued_.load(); }

private:
    friend void AVSampleBufferDisplayLayer_enqueue(id, SEL, CMSampleBufferRef);
    std::atomic<long> enqueued_{0};
};
