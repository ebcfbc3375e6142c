#include "AVSampleBufferDisplayLayer.h"

#include <algorithm>
#include <cmath>

#include "../CoreGraphics/CGDevice.h"
#include "../CoreGraphics/CGHandle.h"
#include "../CoreGraphics/CoreGraphics.h"
#include "../CoreMedia/CoreMediaDevice.h"
#include "../UIKit/UIView.h"

#include "../activity/FrameOrigin.h"
#include "../media/BgraImage.h"
#include "../media/FrameConverter.h"
#include "../media/MediaStatus.h"
#include "../media/PacketDecoder.h"
#include "../media/SharedPixels.h"
#include "../objc/MethodRegistration.h"

// The layer's own decoder and the converter that makes its pictures.
class DisplayLayerDecoder {
public:
    std::unique_ptr<PacketDecoder> decoder;
    FrameConverter converter;
    // Live pictures come full size, many times a second, to be looked at by the frame clock.
    FrameConverter liveConverter{FrameConverter::Quality::fast};
};

// A sample buffer is spelt by the name of the opaque struct it points at.
template <>
struct objc_typeEncoding<opaqueCMSampleBuffer> {
    static constexpr const char* value = "{opaqueCMSampleBuffer=}";
};

AVSampleBufferDisplayLayer::AVSampleBufferDisplayLayer() : decoder_(std::make_unique<DisplayLayerDecoder>()) {}

// Samples still queued are let go undecoded, as a layer that goes away discards them.
AVSampleBufferDisplayLayer::~AVSampleBufferDisplayLayer() {
    {
        std::lock_guard hold(queueLock_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    if (displayThread_.joinable()) displayThread_.join();
}

Class AVSampleBufferDisplayLayer::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<AVSampleBufferDisplayLayer>("AVSampleBufferDisplayLayer", CALayer::objcClass());
        objc_addInstanceMethod<&AVSampleBufferDisplayLayer::enqueueSampleBuffer>(c, "enqueueSampleBuffer:");
        return c;
    }();
    return cls;
}

void AVSampleBufferDisplayLayer::setDisplayView(UIView* view, int pixelWidth, int pixelHeight) {
    std::lock_guard hold(lock_);
    displayView_ = view;
    pixelWidth_ = pixelWidth;
    pixelHeight_ = pixelHeight;
}

void AVSampleBufferDisplayLayer::enqueueSampleBuffer(CMSampleBufferRef sample) {
    enqueued_.fetch_add(1);
    if (sample == nullptr) return;
    std::unique_lock hold(queueLock_);
    if (!displayThread_.joinable()) displayThread_ = std::thread([this] { runDisplayThread(); });
    queueChanged_.wait(hold, [&] { return queued_.size() < kQueueLimit || stopping_; });
    queued_.push_back({SampleBufferHolder::retain(sample), device::currentFrameOrigin().nanos});
    queueChanged_.notify_all();
}

void AVSampleBufferDisplayLayer::flushDecoder() {
    {
        std::unique_lock hold(queueLock_);
        queueChanged_.wait(hold, [&] { return (queued_.empty() && !decoding_) || stopping_; });
    }
    std::lock_guard hold(lock_);
    if (!decoder_->decoder) return;
    // A failure here loses only the pictures still held back: they are not shown.
    (void)decoder_->decoder->drain(
        [this](const DecodedFrame& frame) { convertAndShow(frame, decoder_->converter, shownOrigin_.load()); });
}

void AVSampleBufferDisplayLayer::showPicture(const DecodedFrame& picture, uint64_t originNanos) {
    std::lock_guard hold(lock_);
    // A grabbed screen goes into the view as it is, with the scale it is shown at: pixels are made
    // only where the view is read, as the fast converter would have made them all.
    if (std::optional<PackedPixels> packed = sharePackedPixels(picture)) {
        CGHandle<CGImageRef> grabbed = CGHandle<CGImageRef>::adopt(
            CGImageCreateWithBGRXPixels(packed->width, packed->height, packed->bytesPerRow, std::move(packed->pixels)));
        const auto [width, height] = shownSize(picture.width(), picture.height());
        if (grabbed && width > 0 && height > 0) {
            show(CGHandle<CGImageRef>::adopt(CGImageCreateScaled(grabbed, width, height)), originNanos);
            return;
        }
    }
    convertAndShow(picture, decoder_->liveConverter, originNanos);
}

void AVSampleBufferDisplayLayer::runDisplayThread() {
    std::unique_lock hold(queueLock_);
    while (true) {
        queueChanged_.wait(hold, [&] { return !queued_.empty() || stopping_; });
        if (stopping_) return;
        SampleBufferHolder sample = std::move(queued_.front().sample);
        const uint64_t origin = queued_.front().origin;
        queued_.pop_front();
        decoding_ = true;
        queueChanged_.notify_all();  // there is room again
        hold.unlock();
        decode(sample, origin);
        sample.reset();
        hold.lock();
        decoding_ = false;
        queueChanged_.notify_all();  // a flush may be waiting for the queue to empty
    }
}

void AVSampleBufferDisplayLayer::decode(CMSampleBufferRef sample, uint64_t origin) {
    std::lock_guard hold(lock_);
    CMFormatDescriptionRef format = CMSampleBufferGetFormatDescription(sample);
    if (!decoder_->decoder || !decoder_->decoder->canAccept(format)) {
        device::StatusOr<std::unique_ptr<PacketDecoder>> made = PacketDecoder::create(format);
        decoder_->decoder = made.ok() ? *std::move(made) : nullptr;
        if (!decoder_->decoder) {
            failed_.fetch_add(1);
            return;
        }
    }
    // A sample its player was too late for is decoded all the same (later pictures may refer to
    // it), but what comes out is not shown.
    const bool display = !CMSampleBufferGetDoNotDisplay(sample);
    device::Status decoded = decoder_->decoder->decode(sample, [&](const DecodedFrame& frame) {
        if (display)
            convertAndShow(frame, decoder_->converter, enqueuedOriginsAreCaptureTimes_.load() ? origin : 0);
        else
            dropped_.fetch_add(1);
    });
    if (!decoded.ok()) failed_.fetch_add(1);
}

std::pair<int, int> AVSampleBufferDisplayLayer::shownSize(int width, int height) const {
    // Fitted into the view's pixels in its proportions (the view draws it centred, with bars), so
    // that drawing the view copies it.
    if (pixelWidth_ > 0 && pixelHeight_ > 0 && width > 0 && height > 0) {
        const double scale =
            std::min(static_cast<double>(pixelWidth_) / width, static_cast<double>(pixelHeight_) / height);
        return {std::clamp(static_cast<int>(std::lround(width * scale)), 1, pixelWidth_),
                std::clamp(static_cast<int>(std::lround(height * scale)), 1, pixelHeight_)};
    }
    return {width, height};
}

void AVSampleBufferDisplayLayer::convertAndShow(const DecodedFrame& frame, FrameConverter& converter, uint64_t origin) {
    const auto size = shownSize(frame.width(), frame.height());
    const int width = size.first, height = size.second;
    if (width <= 0 || height <= 0) return;
    // Converted straight into the picture's own memory.
    show(CGHandle<CGImageRef>::adopt(CGImageCreateWithPixelWriter(
             width, height, true,
             [&](uint8_t* pixels, size_t bytesPerRow) {
                 return converter.convertInto(frame.avFrame(), pixels, bytesPerRow, width, height) == kMediaOK;
             })),
         origin);
}

void AVSampleBufferDisplayLayer::show(CGHandle<CGImageRef> image, uint64_t origin) {
    if (!image) return;
    shown_.fetch_add(1);
    shownOrigin_.store(origin);
    if (displayView_ != nullptr) displayView_->setContents(image);
}
