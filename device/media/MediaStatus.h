// MediaStatus: the device media layer's error codes. libavcodec/libavformat's AVERROR values are
// translated into these in one place (mediaStatusFromAVError), so callers above the media layer
// (AVKit, VideoToolbox) map a small, stable set onto their own iOS error codes.
#pragma once

#include <string>

enum MediaStatus : int {
    kMediaOK = 0,
    kMediaBadData = -1,      // the input is damaged or is not what it claims to be
    kMediaUnsupported = -2,  // a codec, format or feature this FFmpeg build cannot handle
    kMediaOutOfMemory = -3,
    kMediaIOError = -4,          // a file could not be opened, read or written
    kMediaInvalidArgument = -5,  // the caller passed something unusable (null, wrong size, ...)
    kMediaInternal = -6,         // anything else: a library fault or an unexpected state
};

// The MediaStatus for an AVERROR value (negative errno or FFERRTAG); kMediaOK for values >= 0.
// AVERROR_EOF and AVERROR(EAGAIN) are flow signals, not errors: callers handle them before asking.
int mediaStatusFromAVError(int averror);
// A short name for a status ("bad data", "unsupported", ...), for messages.
const char* mediaStatusName(int status);
// FFmpeg's own text for an AVERROR value (what av_strerror says).
std::string describeAVError(int averror);
