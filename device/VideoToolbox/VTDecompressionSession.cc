#include "VTDecompressionSession.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "../CoreFoundation/CFDevice.h"
#include "../CoreFoundation/CFHolder.h"
#include "../CoreFoundation/CFRuntime.h"
#include "../CoreMedia/CoreMediaDevice.h"
#include "../CoreVideo/CVPixelBufferFrame.h"

#include "../base/StatusOr.h"
#include "../media/MediaStatus.h"
#include "../media/PacketDecoder.h"
#include "../media/PictureHalving.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

// Samples whose pictures have not come out yet, so that a picture gets its own sample's
// reference constant and duration. Bounded: a decoder that swallows samples cannot grow it.
constexpr size_t kMaxWaitingSamples = 64;

struct WaitingSample {
    CMTime presentationTimeStamp;
    CMTime duration;
    void* sourceFrameRefCon;
    bool output = true;  // false: decoded with kVTDecodeFrame_DoNotOutputFrame
};

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

// The decoded picture as a pixel buffer of the size it is shown at. A picture that is to be shown
// at half its size is halved here when its layout allows; otherwise the renderer scales it.
CFHolder<CVPixelBufferRef> pixelBufferFor(const DecodedFrame& frame) {
    const AVFrame& decoded = frame.avFrame();
    if (frame.width() == (decoded.width + 1) / 2 && frame.height() == (decoded.height + 1) / 2 &&
        frame.width() < decoded.width) {
        if (std::unique_ptr<AVFrame, FrameDeleter> half{halvePicture(decoded)})
            return CFHolder<CVPixelBufferRef>::adopt(CVPixelBufferCreateWithAVFrame(*half, half->width, half->height));
    }
    return CFHolder<CVPixelBufferRef>::adopt(CVPixelBufferCreateWithAVFrame(decoded, frame.width(), frame.height()));
}

// The OSStatus for a PacketDecoder status, whose code() is a MediaStatus.
OSStatus statusForMedia(const device::Status& status) {
    if (status.ok()) return noErr;
    switch (status.code()) {
        case kMediaBadData:
        case kMediaInvalidArgument:
            return kVTVideoDecoderBadDataErr;
        case kMediaUnsupported:
            return kVTVideoDecoderUnsupportedDataFormatErr;
        case kMediaOutOfMemory:
            return kVTAllocationFailedErr;
        default:
            return kVTVideoDecoderMalfunctionErr;
    }
}

}  // namespace

struct OpaqueVTDecompressionSession : CFRuntimeBase {
    VTDecompressionOutputCallbackRecord callback{};
    FormatDescriptionHolder format;

    std::mutex lock;  // serialises calls; guards everything below
    std::unique_ptr<PacketDecoder> decoder;
    int builtShift = 0;            // the reduction `decoder` was made with
    int wantedShift = 0;           // the reduction asked for
    bool awaitingKeyframe = true;  // `decoder` has decoded nothing yet: it starts at a keyframe
    std::deque<WaitingSample> waiting;

    std::atomic<bool> invalid{false};
    std::atomic<std::thread::id> decodingThread{};  // the thread inside the callback, if any

    // Makes the decoder for `shift`, or says why not (code(): a MediaStatus).
    device::Status build(int shift) {
        PacketDecoderOptions options;
        options.threads = 1;  // pictures out in order, at once, on the calling thread
        options.lowDelay = true;
        options.reductionShift = shift;
        options.skipDeblockingWhenReduced = true;
        device::StatusOr<std::unique_ptr<PacketDecoder>> made = PacketDecoder::create(format.get(), options);
        if (!made.ok()) return made.status();
        decoder = *std::move(made);
        builtShift = shift;
        awaitingKeyframe = true;
        waiting.clear();
        return device::Status::OK();
    }

    void deliver(void* sourceFrameRefCon, OSStatus status, VTDecodeInfoFlags flags, CVImageBufferRef picture,
                 CMTime time, CMTime duration) const {
        callback.decompressionOutputCallback(callback.decompressionOutputRefCon, sourceFrameRefCon, status, flags,
                                             picture, time, duration);
    }

    // The waiting sample a picture shown at `time` came from, taken off the list; `fallback` when
    // none matches.
    WaitingSample take(CMTime time, const WaitingSample& fallback) {
        for (auto it = waiting.begin(); it != waiting.end(); ++it) {
            if (CMTimeCompare(it->presentationTimeStamp, time) == 0) {
                WaitingSample found = *it;
                waiting.erase(it);
                return found;
            }
        }
        return fallback;
    }

    // Hands out the pictures the decoder holds back; called with `lock` held.
    OSStatus finishDelayedFrames() {
        const WaitingSample unknown{kCMTimeInvalid, kCMTimeInvalid, nullptr};
        const device::Status drained = decoder->drain([&](const DecodedFrame& frame) { deliverFrame(frame, unknown); });
        waiting.clear();
        return statusForMedia(drained);
    }

    // Hands out one decoded picture.
    void deliverFrame(const DecodedFrame& frame, const WaitingSample& fallback) {
        const WaitingSample origin = take(frame.presentationTimeStamp(), fallback);
        const CMTime time = CMTIME_IS_VALID(frame.presentationTimeStamp()) ? frame.presentationTimeStamp()
                                                                           : origin.presentationTimeStamp;
        if (!origin.output) {
            deliver(origin.sourceFrameRefCon, noErr, kVTDecodeInfo_FrameDropped, nullptr, time, origin.duration);
            return;
        }
        CFHolder<CVPixelBufferRef> picture = pixelBufferFor(frame);
        if (!picture) {
            deliver(origin.sourceFrameRefCon, kVTAllocationFailedErr, 0, nullptr, time, origin.duration);
            return;
        }
        deliver(origin.sourceFrameRefCon, noErr, 0, picture.get(), time, origin.duration);
    }
};

namespace {

// Marks the time in which a call holding the session's lock may call back, so that the callback
// can invalidate the session without waiting for that lock; the decoder goes when the call ends.
class CallingBack {
public:
    explicit CallingBack(OpaqueVTDecompressionSession* session) : session_(session) {
        session_->decodingThread.store(std::this_thread::get_id());
    }
    ~CallingBack() {
        session_->decodingThread.store(std::thread::id());
        if (session_->invalid.load()) {
            session_->decoder.reset();
            session_->waiting.clear();
        }
    }
    CallingBack(const CallingBack&) = delete;
    CallingBack& operator=(const CallingBack&) = delete;

private:
    OpaqueVTDecompressionSession* session_;
};

}  // namespace

const CFStringRef kVTDecompressionPropertyKey_ReducedResolutionDecode = CFStringMakeConstant("ReducedResolutionDecode");

OSStatus VTDecompressionSessionCreate(CFAllocatorRef, CMVideoFormatDescriptionRef videoFormatDescription,
                                      CFDictionaryRef, CFDictionaryRef,
                                      const VTDecompressionOutputCallbackRecord* outputCallback,
                                      VTDecompressionSessionRef* decompressionSessionOut) {
    if (decompressionSessionOut == nullptr) return kVTParameterErr;
    *decompressionSessionOut = nullptr;
    if (videoFormatDescription == nullptr || outputCallback == nullptr ||
        outputCallback->decompressionOutputCallback == nullptr)
        return kVTParameterErr;
    auto* session = new (std::nothrow) OpaqueVTDecompressionSession;
    if (!session) return kVTAllocationFailedErr;
    session->callback = *outputCallback;
    session->format = FormatDescriptionHolder::retain(videoFormatDescription);
    if (const device::Status built = session->build(0); !built.ok()) {
        CFRelease(session);
        switch (built.code()) {
            case kMediaUnsupported:
                return kVTCouldNotFindVideoDecoderErr;
            case kMediaOutOfMemory:
                return kVTAllocationFailedErr;
            default:
                return kVTVideoDecoderBadDataErr;
        }
    }
    *decompressionSessionOut = session;
    return noErr;
}

Boolean VTDecompressionSessionCanAcceptFormatDescription(VTDecompressionSessionRef session,
                                                         CMFormatDescriptionRef newFormatDesc) {
    if (session == nullptr || newFormatDesc == nullptr || session->invalid.load()) return false;
    return CMFormatDescriptionEqual(session->format.get(), newFormatDesc);
}

OSStatus VTDecompressionSessionDecodeFrame(VTDecompressionSessionRef session, CMSampleBufferRef sampleBuffer,
                                           VTDecodeFrameFlags decodeFlags, void* sourceFrameRefCon,
                                           VTDecodeInfoFlags* infoFlagsOut) {
    if (infoFlagsOut) *infoFlagsOut = 0;
    if (session == nullptr || sampleBuffer == nullptr) return kVTParameterErr;
    std::lock_guard hold(session->lock);
    if (session->invalid.load() || !session->decoder) return kVTInvalidSessionErr;
    if (!CMFormatDescriptionEqual(session->format.get(), CMSampleBufferGetFormatDescription(sampleBuffer)))
        return kVTFormatDescriptionChangeNotSupportedErr;

    const CallingBack callingBack(session);

    // A new reduction starts where decoding can start afresh, once the pictures the old decoder
    // still holds have come out.
    if (session->wantedShift != session->builtShift &&
        (session->awaitingKeyframe || CMSampleBufferIsKeyFrame(sampleBuffer))) {
        if (!session->awaitingKeyframe) session->finishDelayedFrames();
        if (session->invalid.load()) return kVTInvalidSessionErr;
        if (!session->build(session->wantedShift).ok()) session->wantedShift = session->builtShift;
    }

    const WaitingSample sample{CMSampleBufferGetPresentationTimeStamp(sampleBuffer),
                               CMSampleBufferGetDuration(sampleBuffer), sourceFrameRefCon,
                               !(decodeFlags & kVTDecodeFrame_DoNotOutputFrame)};
    // A picture decoded without the pictures it refers to is garbage: skip to the first keyframe.
    if (session->awaitingKeyframe && !CMSampleBufferIsKeyFrame(sampleBuffer)) {
        session->deliver(sourceFrameRefCon, noErr, kVTDecodeInfo_FrameDropped, nullptr, sample.presentationTimeStamp,
                         sample.duration);
        return noErr;
    }
    session->awaitingKeyframe = false;
    if (session->waiting.size() == kMaxWaitingSamples) session->waiting.pop_front();
    session->waiting.push_back(sample);

    int delivered = 0;
    const device::Status decoded = session->decoder->decode(sampleBuffer, [&](const DecodedFrame& frame) {
        ++delivered;
        session->deliverFrame(frame, sample);
    });
    const OSStatus result = statusForMedia(decoded);
    if (result != noErr) {
        session->take(sample.presentationTimeStamp, sample);
        session->deliver(sourceFrameRefCon, result, 0, nullptr, sample.presentationTimeStamp, sample.duration);
    } else if (delivered == 0) {
        // The decoder kept this sample's picture back (or the sample had none): say so now.
        session->deliver(sourceFrameRefCon, noErr, kVTDecodeInfo_FrameDropped, nullptr, sample.presentationTimeStamp,
                         sample.duration);
    }
    return result;
}

OSStatus VTDecompressionSessionFinishDelayedFrames(VTDecompressionSessionRef session) {
    if (session == nullptr) return kVTParameterErr;
    std::lock_guard hold(session->lock);
    if (session->invalid.load() || !session->decoder) return kVTInvalidSessionErr;
    const CallingBack callingBack(session);
    return session->finishDelayedFrames();
}

OSStatus VTDecompressionSessionWaitForAsynchronousFrames(VTDecompressionSessionRef session) {
    if (session == nullptr) return kVTParameterErr;
    return session->invalid.load() ? OSStatus{kVTInvalidSessionErr} : OSStatus{noErr};
}

void VTDecompressionSessionInvalidate(VTDecompressionSessionRef session) {
    if (session == nullptr) return;
    session->invalid.store(true);
    // From inside the callback the decode that is running tears the decoder down when it ends.
    if (session->decodingThread.load() == std::this_thread::get_id()) return;
    std::lock_guard hold(session->lock);
    session->decoder.reset();
    session->waiting.clear();
}

namespace {

// The decompression session behind `session` when `propertyKey` is one it has; else an error whose
// code() is the OSStatus to return.
device::StatusOr<OpaqueVTDecompressionSession*> sessionWithProperty(VTSessionRef session, CFStringRef propertyKey) {
    if (session == nullptr || propertyKey == nullptr)
        return device::Status::error("no session or no property", kVTParameterErr);
    auto* decompression =
        dynamic_cast<OpaqueVTDecompressionSession*>(static_cast<CFRuntimeBase*>(const_cast<void*>(session)));
    if (decompression == nullptr) return device::Status::error("not a decompression session", kVTParameterErr);
    if (decompression->invalid.load()) return device::Status::error("the session is invalid", kVTInvalidSessionErr);
    if (!CFStringEqual(propertyKey, kVTDecompressionPropertyKey_ReducedResolutionDecode))
        return device::Status::error("a property the session does not have", kVTPropertyNotSupportedErr);
    return decompression;
}

}  // namespace

OSStatus VTSessionCopyProperty(VTSessionRef session, CFStringRef propertyKey, CFAllocatorRef, void* propertyValueOut) {
    if (propertyValueOut == nullptr) return kVTParameterErr;
    *static_cast<CFTypeRef*>(propertyValueOut) = nullptr;
    device::StatusOr<OpaqueVTDecompressionSession*> found = sessionWithProperty(session, propertyKey);
    if (!found.ok()) return static_cast<OSStatus>(found.status().code());
    OpaqueVTDecompressionSession* decompression = *found;
    std::lock_guard hold(decompression->lock);
    *static_cast<CFTypeRef*>(propertyValueOut) =
        CFRetain(decompression->wantedShift > 0 ? kCFBooleanTrue : kCFBooleanFalse);
    return noErr;
}

OSStatus VTSessionSetProperty(VTSessionRef session, CFStringRef propertyKey, CFTypeRef propertyValue) {
    device::StatusOr<OpaqueVTDecompressionSession*> found = sessionWithProperty(session, propertyKey);
    if (!found.ok()) return static_cast<OSStatus>(found.status().code());
    OpaqueVTDecompressionSession* decompression = *found;
    CFBooleanRef reduce = CFBooleanFromTypeRef(propertyValue);
    if (reduce == nullptr) return kVTParameterErr;
    std::lock_guard hold(decompression->lock);
    decompression->wantedShift = CFBooleanGetValue(reduce) ? 1 : 0;
    return noErr;
}
