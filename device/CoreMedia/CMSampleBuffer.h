// CMSampleBuffer: one compressed video sample (exactly one codec packet) with its timing, its
// keyframe flag and its format description.
//
// Reference counted with CFRetain/CFRelease (or CFHolder); immutable after creation, so a sample
// buffer may be shared between threads freely (a display layer and a decompression session may
// both hold the same one).
#pragma once

#include <cstddef>

#include "../CoreFoundation/CFBase.h"

#include "CMFormatDescription.h"
#include "CMTime.h"

typedef struct opaqueCMSampleBuffer* CMSampleBufferRef;

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
