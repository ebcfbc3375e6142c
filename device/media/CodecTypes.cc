#include "CodecTypes.h"

#include "../CoreMedia/CoreMediaDevice.h"

namespace {

struct CodecPair {
    CMVideoCodecType type;
    AVCodecID id;
};

constexpr CodecPair kCodecs[] = {
    {kCMVideoCodecType_H264, AV_CODEC_ID_H264},
    {kCMVideoCodecType_HEVC, AV_CODEC_ID_HEVC},
    {kCMVideoCodecType_MPEG4Video, AV_CODEC_ID_MPEG4},
    {kCMVideoCodecType_MPEG2Video, AV_CODEC_ID_MPEG2VIDEO},
    {kCMVideoCodecType_MPEG1Video, AV_CODEC_ID_MPEG1VIDEO},
    {kCMVideoCodecType_H263, AV_CODEC_ID_H263},
    {kCMVideoCodecType_JPEG, AV_CODEC_ID_MJPEG},
    {kCMVideoCodecType_VP9, AV_CODEC_ID_VP9},
    {kCMVideoCodecType_AV1, AV_CODEC_ID_AV1},
    {kCMVideoCodecType_DeviceVP8, AV_CODEC_ID_VP8},
};

}  // namespace

CMVideoCodecType codecTypeForCodecId(AVCodecID codecId) {
    for (const CodecPair& pair : kCodecs)
        if (pair.id == codecId) return pair.type;
    return 0;
}

AVCodecID codecIdForCodecType(CMVideoCodecType codecType) {
    for (const CodecPair& pair : kCodecs)
        if (pair.type == codecType) return pair.id;
    return AV_CODEC_ID_NONE;
}
