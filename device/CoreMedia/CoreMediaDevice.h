// The device's own side of CoreMedia, with no iOS counterpart: VP8's codec code, making a format
// description from a codec's extradata and reading it back, making a sample buffer from one packet
// and reading its bytes and flags, and the holders C++ code keeps them in. iOS keeps parameter sets
// in extension atoms and samples in block buffers; the device keeps them as bytes. Device only; the
// system never sees it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../CoreFoundation/CFHolder.h"

#include "CMFormatDescription.h"
#include "CMSampleBuffer.h"

typedef CFHolder<CMSampleBufferRef> SampleBufferHolder;
typedef CFHolder<CMFormatDescriptionRef> FormatDescriptionHolder;

// VP8, which the device's video apps can still play.
inline constexpr CMVideoCodecType kCMVideoCodecType_DeviceVP8 = fourCharCode("vp08");

// --- Format descriptions ---

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
OSStatus CMVideoFormatDescriptionCreateWithExtradata(CFAllocatorRef allocator, CMVideoCodecType codecType,
                                                     int32_t width, int32_t height, const uint8_t* extradata,
                                                     size_t extradataSize,
                                                     CMVideoFormatDescriptionRef* formatDescriptionOut);
// The extradata bytes, lent for as long as the description lives, with their size in `*sizeOut`;
// null (and 0) when there are none or `videoDesc` is null.
const uint8_t* CMVideoFormatDescriptionGetExtradata(CMVideoFormatDescriptionRef videoDesc, size_t* sizeOut);

// --- Sample buffers ---

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
