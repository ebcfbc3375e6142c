// Device-internal: making a sample buffer over packet bytes that something else owns (a demuxer's
// packet), without copying them.
#pragma once

#include <memory>

#include "CMSampleBuffer.h"
#include "CoreMediaDevice.h"

// As CMSampleBufferCreateWithPacket, but the sample buffer keeps `owner` alive instead of copying:
// `bytes` must stay valid and unchanged while `owner` lives, and must be followed by
// kCMSampleBufferPacketPadding zero bytes. `owner` is dropped when the sample buffer goes (on
// whichever thread releases it last), or at once on failure.
OSStatus CMSampleBufferCreateSharingPacket(CMFormatDescriptionRef formatDescription, const uint8_t* bytes, size_t size,
                                           std::shared_ptr<const void> owner, const CMSampleTimingInfo* timing,
                                           Boolean keyFrame, CMSampleBufferRef* sampleBufferOut);
