// CMFormatDescription: what a stream of compressed video samples is: the codec (a FourCC media
// subtype), the coded size, and the codec's parameter sets ("extradata": the avcC record for
// H.264, hvcC for HEVC, the elementary stream header for MPEG-4 part 2, vpcC for VP9, ...).
//
// Reference counted with CFRetain/CFRelease (or CFHolder); immutable after creation, so one may be
// shared between threads freely.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../CoreFoundation/CFBase.h"

typedef const struct opaqueCMFormatDescription* CMFormatDescriptionRef;
typedef CMFormatDescriptionRef CMVideoFormatDescriptionRef;

typedef FourCharCode CMMediaType;
typedef FourCharCode CMVideoCodecType;

enum : CMMediaType { kCMMediaType_Video = fourCharCode("vide") };

enum : CMVideoCodecType {
    kCMVideoCodecType_H264 = fourCharCode("avc1"),
    kCMVideoCodecType_HEVC = fourCharCode("hvc1"),
    kCMVideoCodecType_MPEG4Video = fourCharCode("mp4v"),
    kCMVideoCodecType_MPEG2Video = fourCharCode("mp2v"),
    kCMVideoCodecType_MPEG1Video = fourCharCode("mp1v"),
    kCMVideoCodecType_H263 = fourCharCode("h263"),
    kCMVideoCodecType_JPEG = fourCharCode("jpeg"),
    kCMVideoCodecType_VP9 = fourCharCode("vp09"),
    kCMVideoCodecType_AV1 = fourCharCode("av01"),
};

struct CMVideoDimensions {
    int32_t width;
    int32_t height;
};

enum : OSStatus {
    kCMFormatDescriptionError_InvalidParameter = -12710,
    kCMFormatDescriptionError_AllocationFailed = -12711,
    kCMFormatDescriptionError_ValueNotAvailable = -12718,
};

// 'vide' for every format description the device makes; 0 for null.
CMMediaType CMFormatDescriptionGetMediaType(CMFormatDescriptionRef desc);
// The codec FourCC (kCMVideoCodecType_H264, ...); 0 for null.
FourCharCode CMFormatDescriptionGetMediaSubType(CMFormatDescriptionRef desc);
// The coded width and height; {0, 0} for null.
CMVideoDimensions CMVideoFormatDescriptionGetDimensions(CMVideoFormatDescriptionRef videoDesc);
// True when both describe the same codec, the same parameter sets and the same coded size (two
// nulls are equal, null and non-null are not).
Boolean CMFormatDescriptionEqual(CMFormatDescriptionRef desc1, CMFormatDescriptionRef desc2);
