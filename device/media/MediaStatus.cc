#include "MediaStatus.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

int mediaStatusFromAVError(int averror) {
    if (averror >= 0) return kMediaOK;
    switch (averror) {
        case AVERROR_INVALIDDATA:
            return kMediaBadData;
        case AVERROR_PATCHWELCOME:
        case AVERROR_DECODER_NOT_FOUND:
        case AVERROR_ENCODER_NOT_FOUND:
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_MUXER_NOT_FOUND:
        case AVERROR_PROTOCOL_NOT_FOUND:
        case AVERROR_OPTION_NOT_FOUND:
        case AVERROR(ENOSYS):
            return kMediaUnsupported;
        case AVERROR(ENOMEM):
            return kMediaOutOfMemory;
        case AVERROR(EIO):
        case AVERROR(ENOENT):
        case AVERROR(EACCES):
        case AVERROR(EPERM):
        case AVERROR(EISDIR):
        case AVERROR(ENOSPC):
        case AVERROR_EOF:
            return kMediaIOError;
        case AVERROR(EINVAL):
        case AVERROR(ERANGE):
            return kMediaInvalidArgument;
        default:
            return kMediaInternal;
    }
}

const char* mediaStatusName(int status) {
    switch (status) {
        case kMediaOK:
            return "ok";
        case kMediaBadData:
            return "bad data";
        case kMediaUnsupported:
            return "unsupported";
        case kMediaOutOfMemory:
            return "out of memory";
        case kMediaIOError:
            return "input/output error";
        case kMediaInvalidArgument:
            return "invalid argument";
        default:
            return "internal error";
    }
}

std::string describeAVError(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(averror, text, sizeof text) < 0) return "error " + std::to_string(averror);
    return text;
}
