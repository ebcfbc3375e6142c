// AVSampleBufferDisplayLayer: the layer to which video apps hand their compressed samples. It
// exists only in the video apps' processes (the process set-up registers it).
//
// `enqueueSampleBuffer:` decodes each sample (libavcodec) and shows the picture in its display
// view. Samples are enqueued from one thread at a time (a player's thread); the counters may be
// read from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include <CoreMedia/CMSampleBuffer.h>
#include <QuartzCore/CALayer.h>

class UIView;
class DisplayLayerDecoder;

class AVSampleBufferDisplayLayer : public CALayer {
public:
    AVSampleBufferDisplayLayer();
    ~AVSampleBufferDisplayLayer() override;
    static Class objcClass();

    // Decodes `sample` and shows what comes out. A sample of a new format starts a new decoder;
    // a sample that cannot be decoded is counted and passed over.
    void enqueueSampleBuffer(CMSampleBufferRef sample);
    // Shows the pictures the decoder still holds back (at the end of a stream).
    void flushDecoder();

    // Where the pictures are shown, and at what size in pixels; the view is not retained (it owns the
    // layer). Pictures are scaled to that size as they are decoded, as a compositor would, so that
    // drawing the view copies them. nullptr detaches.
    void setDisplayView(UIView* view, int pixelWidth, int pixelHeight);

    long enqueuedSampleCount() const { return enqueued_.load(); }
    long shownFrameCount() const { return shown_.load(); }
    long failedSampleCount() const { return failed_.load(); }

private:
    void convertAndShow(const class DecodedFrame& frame);
    void show(const struct BgraImage& picture);

    std::mutex lock_;  // one enqueue at a time; guards everything below
    std::unique_ptr<DisplayLayerDecoder> decoder_;
    UIView* displayView_ = nullptr;
    int pixelWidth_ = 0, pixelHeight_ = 0;
    std::atomic<long> enqueued_{0}, shown_{0}, failed_{0};
};
