#include "SampleBufferCapture.h"

#include <mutex>
#include <utility>

#include <CoreImage/CIContext.h>
#include <CoreImage/CIImage.h>
#include <Foundation/NSLog.h>

#include "FrameColour.h"

namespace sampleBufferCapture {

IMP previousEnqueueSampleBuffer = nullptr;

namespace {

// The process's one session, shared by every display layer. Guarded by sessionLock, which the
// app's threads take in turn: a session decodes one sample at a time.
VTDecompressionSessionRef decompressionSession = nullptr;
std::mutex sessionLock;

constexpr VTDecompressionOutputCallbackRecord outputCallback{videoDecompressionOutputCallback, nullptr};

void createSession(CMFormatDescriptionRef format) {
    VTDecompressionSessionCreate(kCFAllocatorDefault, format, nullptr, nullptr, &outputCallback, &decompressionSession);
}

// A session that has been replaced is never used again.
void retire(VTDecompressionSessionRef session) {
    if (session == nullptr) return;
    VTDecompressionSessionInvalidate(session);
    CFRelease(session);
}

}  // namespace

void enqueueSampleBuffer(id self, SEL _cmd, CMSampleBufferRef sampleBuffer) {
    const bool active = preferences->boolForKey(activeKey());
    reinterpret_cast<void (*)(id, SEL, CMSampleBufferRef)>(previousEnqueueSampleBuffer)(self, _cmd, sampleBuffer);
    if (!active || !__atomic_load_n(&readyForUpdates, __ATOMIC_ACQUIRE)) return;

    // A sample without a format (or no sample) is a format no session accepts: the session goes,
    // none can be made for it, and the next sample makes a fresh one.
    CMFormatDescriptionRef format = CMSampleBufferGetFormatDescription(sampleBuffer);

    std::lock_guard hold(sessionLock);
    if (decompressionSession != nullptr) {
        if (VTDecompressionSessionCanAcceptFormatDescription(decompressionSession, format)) {
            VTDecodeInfoFlags infoFlags = 0;
            VTDecompressionSessionDecodeFrame(decompressionSession, sampleBuffer, 0, nullptr, &infoFlags);
            return;
        }
        VTDecompressionSessionRef replaced = std::exchange(decompressionSession, nullptr);
        createSession(format);
        if (decompressionSession != nullptr)
            VTSessionSetProperty(decompressionSession, kVTDecompressionPropertyKey_ReducedResolutionDecode,
                                 kCFBooleanTrue);
        retire(replaced);
        return;
    }
    createSession(format);
}

VTDecompressionSessionRef currentDecompressionSession() {
    std::lock_guard hold(sessionLock);
    return decompressionSession;
}

void discardDecompressionSession() {
    std::lock_guard hold(sessionLock);
    retire(std::exchange(decompressionSession, nullptr));
}

}  // namespace sampleBufferCapture

void videoDecompressionOutputCallback(void*, void*, OSStatus status, VTDecodeInfoFlags, CVImageBufferRef imageBuffer,
                                      CMTime, CMTime) {
    if (status != noErr) {
        NSLog("[Glim] VideoToolboxDecoder callback error %d", static_cast<int>(status));
        __atomic_store_n(&readyForUpdates, YES, __ATOMIC_RELEASE);
        return;
    }
    // A sample that gave no picture (the decoder kept it back, or dropped it): nothing to send.
    if (imageBuffer == nullptr) return;

    Strong<UIImage> frame;
    {
        Strong<CIImage> image = CIImage::imageWithCVPixelBuffer(imageBuffer);
        Strong<CIContext> context = CIContext::contextWithOptions(nil);
        const CGRect whole = CGRectMake(0, 0, static_cast<CGFloat>(CVPixelBufferGetWidth(imageBuffer)),
                                        static_cast<CGFloat>(CVPixelBufferGetHeight(imageBuffer)));
        CGImageRef rendered = context->createCGImage_fromRect(image, whole);
        frame = UIImage::imageWithCGImage(rendered);
        CGImageRelease(rendered);
    }
    // A picture that could not be rendered would read as black: send nothing instead.
    if (!frame) return;

    Strong<UIColor> colour = sampleImageColor(frame);
    MRYIPCCenter* center = colourServerCenter();
    Strong<NSString> message = colorMessageFromColor(colour);
    sendAcknowledgedColorMessage(center, message);
}
