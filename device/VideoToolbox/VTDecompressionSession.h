// VTDecompressionSession: decodes compressed video samples (libavcodec) and hands each picture to
// the session's output callback as a CVPixelBuffer.
//
// Decoding is always synchronous on this device: VTDecompressionSessionDecodeFrame calls the
// output callback, on the calling thread, before it returns, once for every picture the sample
// gives and, when it gives none, once with no picture (kVTDecodeInfo_FrameDropped). Pictures come
// out as soon as the decoder lets them go: at once for streams without B-frames; a stream with
// B-frames holds back as many pictures as it reorders (they come out with later samples, or with
// VTDecompressionSessionFinishDelayedFrames). A session starts at a keyframe: samples before its
// first keyframe (those of a stream joined midway) are dropped rather than decoded into garbage.
// Bad data never crashes: the callback gets a non-zero status and decoding goes on with the next
// sample.
//
// A session may be used from any thread; calls on one session are serialised. The callback must
// not release the session's last reference; it may invalidate the session.
#pragma once

#include "../CoreMedia/CMFormatDescription.h"
#include "../CoreMedia/CMSampleBuffer.h"
#include "../CoreVideo/CVPixelBuffer.h"

#include "VTSession.h"

typedef struct OpaqueVTDecompressionSession* VTDecompressionSessionRef;
typedef const struct __CFDictionary* CFDictionaryRef;

typedef uint32_t VTDecodeFrameFlags;
enum : VTDecodeFrameFlags {
    kVTDecodeFrame_EnableAsynchronousDecompression = 1u << 0,  // accepted; decoding stays synchronous
    kVTDecodeFrame_DoNotOutputFrame = 1u << 1,                 // decode, but hand out no picture
    kVTDecodeFrame_1xRealTimePlayback = 1u << 2,               // accepted and ignored
    kVTDecodeFrame_EnableTemporalProcessing = 1u << 3,         // accepted and ignored
};

typedef uint32_t VTDecodeInfoFlags;
enum : VTDecodeInfoFlags {
    kVTDecodeInfo_Asynchronous = 1u << 0,
    kVTDecodeInfo_FrameDropped = 1u << 1,
    kVTDecodeInfo_ImageBufferModifiable = 1u << 2,
};

// Called for each decoded picture: the session's reference constant, the sample's
// `sourceFrameRefCon`, the status (noErr, or why the sample could not be decoded), flags, the
// picture (lent for the call; retain it to keep it; nullptr when there is none) and its
// presentation time and duration.
typedef void (*VTDecompressionOutputCallback)(void* decompressionOutputRefCon, void* sourceFrameRefCon, OSStatus status,
                                              VTDecodeInfoFlags infoFlags, CVImageBufferRef imageBuffer,
                                              CMTime presentationTimeStamp, CMTime presentationDuration);

struct VTDecompressionOutputCallbackRecord {
    VTDecompressionOutputCallback decompressionOutputCallback;
    void* decompressionOutputRefCon;
};

// Makes a session for samples of `videoFormatDescription` that delivers pictures to
// `outputCallback`. `videoDecoderSpecification` and `destinationImageBufferAttributes` are accepted
// and ignored (pictures come out in the decoder's own layout). On success returns noErr and
// `*decompressionSessionOut` holds a session the caller owns (CFRelease, after
// VTDecompressionSessionInvalidate); otherwise it is left null and the result is kVTParameterErr
// (a null argument or callback), kVTCouldNotFindVideoDecoderErr (no decoder for the codec),
// kVTVideoDecoderBadDataErr (unusable parameter sets) or kVTAllocationFailedErr.
OSStatus VTDecompressionSessionCreate(CFAllocatorRef allocator, CMVideoFormatDescriptionRef videoFormatDescription,
                                      CFDictionaryRef videoDecoderSpecification,
                                      CFDictionaryRef destinationImageBufferAttributes,
                                      const VTDecompressionOutputCallbackRecord* outputCallback,
                                      VTDecompressionSessionRef* decompressionSessionOut);

// Whether samples of `newFormatDesc` can go to `session`: the same codec, parameter sets and coded
// size as the session was made for. False for nullptrs and invalidated sessions.
Boolean VTDecompressionSessionCanAcceptFormatDescription(VTDecompressionSessionRef session,
                                                         CMFormatDescriptionRef newFormatDesc);

// Decodes `sampleBuffer` and calls the output callback (see above) before returning. Returns noErr
// when the sample was decoded; otherwise the status the callback also got (kVTVideoDecoderBadDataErr
// for damaged data, ...), or, without calling back: kVTParameterErr for a null session or sample,
// kVTInvalidSessionErr for an invalidated session, kVTFormatDescriptionChangeNotSupportedErr for a
// sample of a format the session cannot accept. `*infoFlagsOut` (when given) is set to 0: decoding
// was synchronous.
OSStatus VTDecompressionSessionDecodeFrame(VTDecompressionSessionRef session, CMSampleBufferRef sampleBuffer,
                                           VTDecodeFrameFlags decodeFlags, void* sourceFrameRefCon,
                                           VTDecodeInfoFlags* infoFlagsOut);

// Hands out the pictures the decoder still holds (at the end of a stream) through the callback.
OSStatus VTDecompressionSessionFinishDelayedFrames(VTDecompressionSessionRef session);
// Returns at once: no decoding is ever left running on this device. noErr, or kVTParameterErr /
// kVTInvalidSessionErr.
OSStatus VTDecompressionSessionWaitForAsynchronousFrames(VTDecompressionSessionRef session);

// Tears the decoder down; the session then refuses every call. The session object lives on until
// its last CFRelease. Safe to call more than once, and from inside the output callback.
void VTDecompressionSessionInvalidate(VTDecompressionSessionRef session);
