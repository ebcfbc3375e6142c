// CMSampleBuffer: one compressed video sample (exactly one codec packet) with its timing, its
// keyframe flag and its format description.
//
// Reference counted with CFRetain/CFRelease (or CFHolder); immutable after creation, so a sample
// buffer may be shared between threads freely (a display layer and a decompression session may
// both hold the same one).
#pragma once

#include <cstddef>
#include <cstdint>

#include <CoreFoundation/CFBase.h>
#include "../CoreFoundation/CFHolder.h"

#include "CMFormatDescription.h"
#include "CMTime.h"

typedef struct opaqueCMSampleBuffer* CMSampleBufferRef;

typedef CFHolder<CMSampleBufferRef> SampleBufferHolder;
typedef CFHolder<CMFormatDescriptionRef> FormatDescriptionHolder;

struct CMSampleTimingInfo {
    CMTime duration;
    CMTime presentationTimeStamp;
    CMTime decodeTimeStamp;
};

typedef long CMItemCount;

enum : OSStatus {
    kCMSampleBufferError_AllocationFailed = -12730,
    kCMSampleBufferError_RequiredParameterMissing = -12731,
    kCMSampleBufferError_InvalidSampleData = -12742,
};

// The format description, lent for as long as the sample buffer lives; null for null.
CMFormatDescriptionRef CMSampleBufferGetFormatDescription(CMSampleBufferRef sbuf);
// The sample's timestamps and duration; kCMTimeInvalid when unknown or for a null buffer.
CMTime CMSampleBufferGetPresentationTimeStamp(CMSampleBufferRef sbuf);
CMTime CMSampleBufferGetDecodeTimeStamp(CMSampleBufferRef sbuf);
CMTime CMSampleBufferGetDuration(CMSampleBufferRef sbuf);
// The packet's size in bytes; 0 for null.
size_t CMSampleBufferGetTotalSampleSize(CMSampleBufferRef sbuf);
// 1 (a device sample buffer holds one packet); 0 for null.
CMItemCount CMSampleBufferGetNumSamples(CMSampleBufferRef sbuf);
// True: device sample buffers are complete when made. False for null.
Boolean CMSampleBufferDataIsReady(CMSampleBufferRef sbuf);

// --- Device additions (no iOS counterpart) ---

// Zero bytes that always follow a sample buffer's packet bytes, so decoders that read a little
// past the end (libavcodec's bitstream readers do) never leave the buffer.
inline constexpr size_t kCMSampleBufferPacketPadding = 64;
// Largest accepted packet.
inline constexpr size_t kCMSampleBufferMaxPacketSize = 256 * 1024 * 1024;

// Makes a sample buffer holding a copy of one packet: `size` bytes at `bytes`, of the stream
// `formatDescription` (retained), with `timing` (null: every time unknown) and whether the packet
// is a keyframe (decodable on its own). Returns noErr and a reference the caller owns in
// `*sampleBufferOut`; otherwise kCMSampleBufferError_RequiredParameterMissing (null out-pointer,
// format description or bytes, or size 0: an empty packet would mean end of stream to a decoder),
// kCMSampleBufferError_InvalidSampleData (larger than kCMSampleBufferMaxPacketSize) or
// kCMSampleBufferError_AllocationFailed, and `*sampleBufferOut` (if given) is null.
OSStatus CMSampleBufferCreateWithPacket(CFAllocatorRef allocator, CMFormatDescriptionRef formatDescription,
                                        const void* bytes, size_t size, const CMSampleTimingInfo* timing,
                                        Boolean keyFrame, CMSampleBufferRef* sampleBufferOut);
// The packet bytes, lent for as long as the sample buffer lives and followed by
// kCMSampleBufferPacketPadding zero bytes; the size in `*sizeOut`. Null (and 0) for null.
const uint8_t* CMSampleBufferGetPacketBytes(CMSampleBufferRef sbuf, size_t* sizeOut);
// Whether the packet is a keyframe. False for null.
Boolean CMSampleBufferIsKeyFrame(CMSampleBufferRef sbuf);
// The sample's kCMSampleAttachmentKey_DoNotDisplay attachment: a player marks a sample it is too
// late to show, and a display layer then decodes it (later pictures may need it) without showing
// what comes out. The one mutable part of a sample buffer; set it before handing the sample on.
// Null is ignored (false).
void CMSampleBufferSetDoNotDisplay(CMSampleBufferRef sbuf, Boolean doNotDisplay);
Boolean CMSampleBufferGetDoNotDisplay(CMSampleBufferRef sbuf);
