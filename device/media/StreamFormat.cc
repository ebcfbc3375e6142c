#include "StreamFormat.h"

#include <climits>

extern "C" {
#include <libavcodec/codec_desc.h>
#include <libavutil/avutil.h>
}

#include "CodecTypes.h"

device::StatusOr<FormatDescriptionHolder> formatDescriptionForStream(const AVCodecParameters& parameters,
                                                                     const std::string& name) {
    const CMVideoCodecType codecType = codecTypeForCodecId(parameters.codec_id);
    if (codecType == 0) {
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get(parameters.codec_id);
        return device::Status::error(name + ": unsupported video codec " +
                                     (descriptor ? descriptor->name : "(unknown)"));
    }
    FormatDescriptionHolder format;
    const OSStatus status = CMVideoFormatDescriptionCreateWithExtradata(
        kCFAllocatorDefault, codecType, parameters.width, parameters.height, parameters.extradata,
        parameters.extradata_size > 0 ? static_cast<size_t>(parameters.extradata_size) : 0, format.receive());
    if (status != noErr) {
        return device::Status::error(name + ": unusable video stream (" + std::to_string(parameters.width) + "x" +
                                     std::to_string(parameters.height) + ", " +
                                     std::to_string(parameters.extradata_size) + " bytes of codec parameters)");
    }
    return format;
}

CMTime timeFromStream(int64_t ts, AVRational timeBase) {
    if (ts == AV_NOPTS_VALUE || timeBase.num <= 0 || timeBase.den <= 0) return kCMTimeInvalid;
    int64_t value = 0;
    if (__builtin_mul_overflow(ts, static_cast<int64_t>(timeBase.num), &value)) return kCMTimeInvalid;
    return CMTimeMake(value, timeBase.den);
}
