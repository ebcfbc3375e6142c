// AVSampleBufferDisplayLayer: the layer to which video apps hand their compressed samples. It
// exists only in the video apps' processes (the process set-up registers it).
//
// As on the device, `enqueueSampleBuffer:` only queues the sample and returns: the layer's own
// display thread decodes it (libavcodec) and shows the picture in the display view. Samples are
// enqueued from one thread at a time (a player's thread); the counters may be read from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "../CoreMedia/CMSampleBuffer.h"
#include "../QuartzCore/CALayer.h"

#include "../CoreFoundation/CFHolder.h"
#include "../CoreGraphics/CGHandle.h"
#include "../media/DecodedFrame.h"

class UIView;
class DisplayLayerDecoder;

class AVSampleBufferDisplayLayer : public CALayer {
public:
    // How many samples may wait for the display thread; an enqueue beyond that waits for room, as
    // a player waits for a layer that is not ready for more media data.
    static constexpr size_t kQueueLimit = 8;

    AVSampleBufferDisplayLayer();
    ~AVSampleBufferDisplayLayer() override;
    static Class objcClass();

    // Queues `sample` for the display thread, which decodes it and shows what comes out, unless the
    // sample is marked not to be displayed (its kCMSampleAttachmentKey_DoNotDisplay attachment): its
    // pictures are then counted as dropped. A sample of a new format starts a new decoder; a sample
    // that cannot be decoded is counted and passed over.
    void enqueueSampleBuffer(CMSampleBufferRef sample);
    // Shows `picture` at once, on the calling thread, as a player layer shows its player's pictures:
    // past enqueueSampleBuffer: and the display thread, straight into the display view, scaled to
    // it as decoded pictures are. A picture of packed B,G,R,x pixels (a grabbed screen) is not
    // copied: the view gets it with the scale it is shown at, and pixels are made where it is read. `originNanos`: when
    // the picture entered the process (activity/FrameOrigin.h). Not to be mixed with enqueued samples on one layer.
    void showPicture(const DecodedFrame& picture, uint64_t originNanos);
    // When the picture shown now entered the process (CLOCK_MONOTONIC nanoseconds): the frame origin
    // of the thread that enqueued its sample, or the origin given with it; 0 when unknown or none.
    uint64_t shownPictureOrigin() const { return shownOrigin_.load(); }
    // Whether the origins of enqueued samples are capture times (a live source's), which the frame
    // clock then measures from. Off for a file: a file's frame enters the frame clock at its tick.
    void setEnqueuedOriginsAreCaptureTimes(bool captureTimes) { enqueuedOriginsAreCaptureTimes_ = captureTimes; }
    // Waits until every queued sample has been decoded, then shows the pictures the decoder still
    // holds back (at the end of a stream).
    void flushDecoder();

    // Where the pictures are shown, and the size in pixels of the area they are shown in; the view
    // is not retained (it owns the layer). Pictures are scaled as they are decoded to the largest
    // size that fits that area in their own proportions, as a compositor would, so that drawing
    // the view copies them; 0 x 0 keeps their decoded size. nullptr detaches. Any thread; a
    // change applies from the next picture.
    void setDisplayView(UIView* view, int pixelWidth, int pixelHeight);

    long enqueuedSampleCount() const { return enqueued_.load(); }
    long shownFrameCount() const { return shown_.load(); }
    long failedSampleCount() const { return failed_.load(); }
    long droppedFrameCount() const { return dropped_.load(); }

private:
    void runDisplayThread();
    struct Queued {
        CFHolder<CMSampleBufferRef> sample;
        uint64_t origin;
    };
    void decode(CMSampleBufferRef sample, uint64_t origin);
    void convertAndShow(const DecodedFrame& frame, class FrameConverter& converter, uint64_t origin);
    // The size a picture of `width` x `height` is shown at (see setDisplayView).
    std::pair<int, int> shownSize(int width, int height) const;
    // Puts `image` (none when it could not be made) into the display view.
    void show(CGHandle<CGImageRef> image, uint64_t origin);

    // The queue between the enqueuing thread and the display thread.
    std::mutex queueLock_;
    std::condition_variable queueChanged_;
    std::deque<Queued> queued_;
    bool decoding_ = false;  // the display thread is working on a sample it took off the queue
    bool stopping_ = false;
    std::thread displayThread_;  // started by the first enqueue

    std::mutex lock_;  // one decode at a time; guards everything below
    std::unique_ptr<DisplayLayerDecoder> decoder_;
    UIView* displayView_ = nullptr;
    int pixelWidth_ = 0, pixelHeight_ = 0;
    std::atomic<long> enqueued_{0}, shown_{0}, failed_{0}, dropped_{0};
    std::atomic<uint64_t> shownOrigin_{0};
    std::atomic<bool> enqueuedOriginsAreCaptureTimes_{false};
};
