#include "CMSampleBuffer.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "../CoreFoundation/CFRuntime.h"

#include "CMSampleBufferSharing.h"
#include "CoreMediaDevice.h"

struct opaqueCMSampleBuffer : CFRuntimeBase {
    ~opaqueCMSampleBuffer() override { CFRelease(format); }

    CMFormatDescriptionRef format = nullptr;
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    std::shared_ptr<const void> owner;
    CMSampleTimingInfo timing{kCMTimeInvalid, kCMTimeInvalid, kCMTimeInvalid};
    bool keyFrame = false;
    std::atomic<bool> doNotDisplay{false};
};

namespace {

OSStatus checkArguments(CMFormatDescriptionRef format, const void* bytes, size_t size, CMSampleBufferRef* out) {
    if (!out) return kCMSampleBufferError_RequiredParameterMissing;
    *out = nullptr;
    if (!format || !bytes || size == 0) return kCMSampleBufferError_RequiredParameterMissing;
    if (size > kCMSampleBufferMaxPacketSize) return kCMSampleBufferError_InvalidSampleData;
    return noErr;
}

OSStatus make(CMFormatDescriptionRef format, const uint8_t* bytes, size_t size, std::shared_ptr<const void> owner,
              const CMSampleTimingInfo* timing, Boolean keyFrame, CMSampleBufferRef* out) {
    try {
        auto* sbuf = new opaqueCMSampleBuffer;
        sbuf->format = static_cast<CMFormatDescriptionRef>(CFRetain(format));
        sbuf->bytes = bytes;
        sbuf->size = size;
        sbuf->owner = std::move(owner);
        if (timing) sbuf->timing = *timing;
        sbuf->keyFrame = keyFrame;
        *out = sbuf;
        return noErr;
    } catch (const std::bad_alloc&) {
        return kCMSampleBufferError_AllocationFailed;
    }
}

}  // namespace

OSStatus CMSampleBufferCreateWithPacket(CFAllocatorRef, CMFormatDescriptionRef formatDescription, const void* bytes,
                                        size_t size, const CMSampleTimingInfo* timing, Boolean keyFrame,
                                        CMSampleBufferRef* sampleBufferOut) {
    if (OSStatus status = checkArguments(formatDescription, bytes, size, sampleBufferOut)) return status;
    std::shared_ptr<uint8_t[]> copy;
    try {
        copy = std::make_shared<uint8_t[]>(size + kCMSampleBufferPacketPadding);  // zero-filled
    } catch (const std::bad_alloc&) {
        return kCMSampleBufferError_AllocationFailed;
    }
    std::memcpy(copy.get(), bytes, size);
    const uint8_t* data = copy.get();
    return make(formatDescription, data, size, std::move(copy), timing, keyFrame, sampleBufferOut);
}

OSStatus CMSampleBufferCreateSharingPacket(CMFormatDescriptionRef formatDescription, const uint8_t* bytes, size_t size,
                                           std::shared_ptr<const void> owner, const CMSampleTimingInfo* timing,
                                           Boolean keyFrame, CMSampleBufferRef* sampleBufferOut) {
    if (OSStatus status = checkArguments(formatDescription, bytes, size, sampleBufferOut)) return status;
    return make(formatDescription, bytes, size, std::move(owner), timing, keyFrame, sampleBufferOut);
}

CMFormatDescriptionRef CMSampleBufferGetFormatDescription(CMSampleBufferRef sbuf) {
    return sbuf ? sbuf->format : nullptr;
}

CMTime CMSampleBufferGetPresentationTimeStamp(CMSampleBufferRef sbuf) {
    return sbuf ? sbuf->timing.presentationTimeStamp : kCMTimeInvalid;
}

CMTime CMSampleBufferGetDecodeTimeStamp(CMSampleBufferRef sbuf) {
    return sbuf ? sbuf->timing.decodeTimeStamp : kCMTimeInvalid;
}

CMTime CMSampleBufferGetDuration(CMSampleBufferRef sbuf) { return sbuf ? sbuf->timing.duration : kCMTimeInvalid; }

size_t CMSampleBufferGetTotalSampleSize(CMSampleBufferRef sbuf) { return sbuf ? sbuf->size : 0; }

CMItemCount CMSampleBufferGetNumSamples(CMSampleBufferRef sbuf) { return sbuf ? 1 : 0; }

Boolean CMSampleBufferDataIsReady(CMSampleBufferRef sbuf) { return sbuf != nullptr; }

const uint8_t* CMSampleBufferGetPacketBytes(CMSampleBufferRef sbuf, size_t* sizeOut) {
    if (sizeOut) *sizeOut = sbuf ? sbuf->size : 0;
    return sbuf ? sbuf->bytes : nullptr;
}

Boolean CMSampleBufferIsKeyFrame(CMSampleBufferRef sbuf) { return sbuf && sbuf->keyFrame; }

void CMSampleBufferSetDoNotDisplay(CMSampleBufferRef sbuf, Boolean doNotDisplay) {
    if (sbuf) sbuf->doNotDisplay.store(doNotDisplay != 0, std::memory_order_release);
}

Boolean CMSampleBufferGetDoNotDisplay(CMSampleBufferRef sbuf) {
    return sbuf && sbuf->doNotDisplay.load(std::memory_order_acquire);
}
