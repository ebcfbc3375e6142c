// CMFormatDescription: what a stream of compressed video samples is: the codec (a FourCC media
// subtype), the coded size, and the codec's parameter sets ("extradata": the avcC record for
// H.264, hvcC for HEVC, the elementary stream header for MPEG-4 part 2, vpcC for VP9, ...).
//
// Reference counted with CFRetain/CFRelease (or CFHolder); immutable after creation, so one may be
// shared between threads freely.
#pragma once

#include <cstddef>
#include <cstdint>

#include <CoreFoundation/CFBase.h>

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
    // No iOS counterpart: VP8, which the device's video apps can still play.
    kCMVideoCodecType_DeviceVP8 = fourCharCode("vp08"),
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

// --- Device additions (no iOS counterpart: iOS keeps the parameter sets in extension atoms) ---

// Largest accepted coded width or height, and extradata size.
inline constexpr int32_t kCMVideoFormatDescriptionMaxDimension = 32768;
inline constexpr size_t kCMVideoFormatDescriptionMaxExtradata = 16 * 1024 * 1024;

// Makes a video format description from a codec FourCC, the coded size and the codec's extradata
// (copied; `extradata` may be null when `extradataSize` is 0). On success returns noErr and
// `*formatDescriptionOut` holds a reference the caller owns; otherwise returns
// kCMFormatDescriptionError_InvalidParameter (null out-pointer, zero codec, size not in
// 1...kCMVideoFormatDescriptionMaxDimension, extradata too large or null with a size) or
// kCMFormatDescriptionError_AllocationFailed, and `*formatDescriptionOut` (if given) is null.
// Any FourCC is accepted; whether it can be decoded is the decoder's question.
OSStatus CMVideoFormatDescriptionCreateWithExtradata(CFAllocatorRef allocator, CMVideoCodecType codecType, int32_t width,
                                                     int32_t height, const uint8_t* extradata, size_t extradataSize,
                                                     CMVideoFormatDescriptionRef* formatDescriptionOut);
// The extradata bytes, lent for as long as the description lives, with their size in `*sizeOut`;
// null (and 0) when there are none or `videoDesc` is null.
const uint8_t* CMVideoFormatDescriptionGetExtradata(CMVideoFormatDescriptionRef videoDesc, size_t* sizeOut);
