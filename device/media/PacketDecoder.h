// PacketDecoder: a libavcodec video decoder for the sample buffers of one format description.
//
// decode() sends one packet and hands every picture that is ready to the callback; a decoder may
// hold pictures back (H.264 with B-frames reorders), and drain() lets out the rest and makes the
// decoder ready for new packets. Errors are statuses whose code() is a MediaStatus, never crashes:
// damaged or foreign packets give kMediaBadData and decoding goes on with the next packet.
//
// Picture size: a packet can ask for any size, and libavcodec would allocate it. The decoder
// refuses pictures beyond maxPicturePixels(): 16 times the format description's size (4 times each
// side, room for a stream that grows within one description), at least 1920x1088 (so a tiny or
// wrong declared size never refuses HD) and at most 8192x4352, the largest picture the highest
// levels of H.264, HEVC and VP9 allow. A refused picture is kMediaBadData for its sample.
//
// Restarting: some refusals leave libavcodec's decoder unable to decode anything again (VP9 is left
// with no picture size and fails every later keyframe). After any error other than plain damaged
// data the decoder is replaced by a fresh one, which starts at a keyframe: until one comes,
// samples are passed over (ok, no picture) and awaitingKeyframe() is true.
//
// Reduced resolution: `reductionShift` n shows pictures at 1/2^n of their size on each side
// (rounded up): 1 is half size, 2 quarter, 3 eighth. Codecs whose decoders can skip the detail
// themselves (libavcodec "lowres": MPEG-4 part 2, MPEG-1/2, JPEG) decode small; for the others
// the decoder works at full size and the FrameConverter scales down.
//
// Not thread-safe: one thread at a time (the frame callback runs on the calling thread).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "../CoreMedia/CMSampleBuffer.h"
#include "../CoreMedia/CoreMediaDevice.h"

#include "../base/StatusOr.h"
#include "DecodedFrame.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

struct PacketDecoderOptions {
    // Decoding threads; 1 keeps decoding predictable and frame-by-frame, 0 lets libavcodec choose.
    int threads = 1;
    // 0 full size ... 3 (eighth size); larger values count as 3.
    int reductionShift = 0;
    // When the codec cannot reduce by itself, also skip its in-loop deblocking filter: the picture
    // is scaled down anyway, which hides the blocking, and decoding gets cheaper.
    bool skipDeblockingWhenReduced = false;
    // Hand pictures out as soon as they are decoded (libavcodec's low-delay mode) instead of
    // holding some back to put B-frames in display order.
    bool lowDelay = false;
};

class PacketDecoder {
public:
    using FrameHandler = std::function<void(const DecodedFrame&)>;

    // A decoder for samples of `format`, or an error saying why not, whose code() is
    // kMediaUnsupported (no decoder for the codec in this FFmpeg build), kMediaBadData (the
    // parameter sets are unusable), kMediaInvalidArgument (null format) or another MediaStatus.
    static device::StatusOr<std::unique_ptr<PacketDecoder>> create(CMVideoFormatDescriptionRef format,
                                                                   const PacketDecoderOptions& options = {});
    ~PacketDecoder();
    PacketDecoder(const PacketDecoder&) = delete;
    PacketDecoder& operator=(const PacketDecoder&) = delete;

    // Sends the packet of `sample` (its format is not checked: see canAccept) and calls `onFrame`
    // for each picture that is then ready. Returns ok, or the first error met, its code() a
    // MediaStatus (the pictures that came out before and after it are still handed over). Ok with
    // no picture for a sample that is not a keyframe while awaitingKeyframe().
    device::Status decode(CMSampleBufferRef sample, const FrameHandler& onFrame);
    // Lets out every picture still held, then resets the decoder for new packets (the next packet
    // should be a keyframe). Returns ok or the first error met, as decode() does.
    device::Status drain(const FrameHandler& onFrame);
    // Whether the decoder was restarted after an error and passes samples over until a keyframe.
    bool awaitingKeyframe() const { return awaitingKeyframe_; }
    // The largest picture, in pixels, this decoder makes (see above).
    int64_t maxPicturePixels() const { return maxPixels_; }
    // Whether samples of `format` can go to this decoder: same codec, parameter sets and size.
    bool canAccept(CMVideoFormatDescriptionRef format) const { return CMFormatDescriptionEqual(format_.get(), format); }

    CMVideoFormatDescriptionRef formatDescription() const { return format_.get(); }
    // The part of the reduction the codec does itself (0 when it decodes at full size).
    int codecReductionShift() const { return codecShift_; }

private:
    PacketDecoder() = default;
    // A new libavcodec decoder as create() sets it up, in `*context`; an AVERROR on failure.
    int openContext(AVCodecContext** context) const;
    // Replaces a decoder an error left unusable; `context_` stays null when no new one can be
    // made (decode() tries again at the next keyframe).
    void restart();
    device::Status receiveFrames(const FrameHandler& onFrame, bool draining);
    device::Status fail(int averror, const char* what);

    FormatDescriptionHolder format_;
    const struct AVCodec* codec_ = nullptr;
    PacketDecoderOptions options_;
    int64_t maxPixels_ = 0;
    AVCodecContext* context_ = nullptr;  // null only after a failed restart
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int codecShift_ = 0;
    int converterShift_ = 0;
    CMTimeScale timescale_ = 0;  // of the packets' timestamps inside libavcodec; set by the first sample
    bool awaitingKeyframe_ = false;
    bool unusable_ = false;  // an error since the last decode() or drain() calls for a restart
};
