#include "PacketDecoder.h"

#include <algorithm>
#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

#include "CodecTypes.h"
#include "FFmpegLogging.h"
#include "MediaStatus.h"

static_assert(kCMSampleBufferPacketPadding >= AV_INPUT_BUFFER_PADDING_SIZE,
              "sample buffers must carry the padding libavcodec reads past a packet");

namespace {

constexpr int kMaxReductionShift = 3;

int64_t toTimescale(CMTime time, CMTimeScale timescale) {
    if (!CMTIME_IS_NUMERIC(time) || timescale <= 0) return AV_NOPTS_VALUE;
    const CMTime converted = CMTimeConvertScale(time, timescale, kCMTimeRoundingMethod_RoundHalfAwayFromZero);
    return CMTIME_IS_NUMERIC(converted) ? converted.value : AV_NOPTS_VALUE;
}

// libavcodec drops its reference to a packet's buffer when it is done with it, possibly later on
// one of its own threads; the sample buffer lives until then.
void releaseSample(void* opaque, uint8_t*) { CFRelease(opaque); }

int reduced(int size, int shift) { return std::max(1, -((-size) >> shift)); }

// See the header: 16 times the declared size, within [1920x1088, 8192x4352].
int64_t maxPicturePixelsFor(CMVideoDimensions declared) {
    constexpr int64_t kLeast = int64_t{1920} * 1088;
    constexpr int64_t kMost = int64_t{8192} * 4352;
    const int64_t pixels = int64_t{std::max(declared.width, 0)} * std::max(declared.height, 0);
    return std::clamp(16 * pixels, kLeast, kMost);
}

}  // namespace

using device::Status;

device::StatusOr<std::unique_ptr<PacketDecoder>> PacketDecoder::create(CMVideoFormatDescriptionRef format,
                                                                       const PacketDecoderOptions& options) {
    setUpFFmpegLogging();
    if (!format) return Status::error("no format description", kMediaInvalidArgument);
    const FourCharCode codecType = CMFormatDescriptionGetMediaSubType(format);
    const char fourcc[5] = {static_cast<char>(codecType >> 24), static_cast<char>(codecType >> 16),
                            static_cast<char>(codecType >> 8), static_cast<char>(codecType), 0};
    const AVCodecID codecId = codecIdForCodecType(codecType);
    const AVCodec* codec = codecId == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(codecId);
    if (!codec) return Status::error(std::string("no decoder for codec '") + fourcc + "'", kMediaUnsupported);

    std::unique_ptr<PacketDecoder> decoder(new PacketDecoder);
    decoder->format_ = FormatDescriptionHolder::retain(format);
    decoder->codec_ = codec;
    decoder->options_ = options;
    decoder->maxPixels_ = maxPicturePixelsFor(CMVideoFormatDescriptionGetDimensions(format));
    const int shift = std::clamp(options.reductionShift, 0, kMaxReductionShift);
    decoder->codecShift_ = std::min(shift, static_cast<int>(codec->max_lowres));
    decoder->converterShift_ = shift - decoder->codecShift_;
    decoder->packet_ = av_packet_alloc();
    decoder->frame_ = av_frame_alloc();
    if (!decoder->packet_ || !decoder->frame_) return Status::error("out of memory", kMediaOutOfMemory);

    const int ret = decoder->openContext(&decoder->context_);
    if (ret < 0) {
        const int code = mediaStatusFromAVError(ret);
        return Status::error(std::string("cannot start the ") + codec->name + " decoder: " + describeAVError(ret),
                             code == kMediaInvalidArgument ? kMediaBadData : code);
    }
    return decoder;
}

int PacketDecoder::openContext(AVCodecContext** made) const {
    AVCodecContext* context = avcodec_alloc_context3(codec_);
    if (!context) return AVERROR(ENOMEM);
    const CMVideoDimensions size = CMVideoFormatDescriptionGetDimensions(format_.get());
    context->width = size.width;
    context->height = size.height;
    context->max_pixels = maxPixels_;
    context->thread_count = std::max(0, options_.threads);
    if (timescale_ > 0) context->pkt_timebase = AVRational{1, timescale_};
    size_t extradataSize = 0;
    const uint8_t* extradata = CMVideoFormatDescriptionGetExtradata(format_.get(), &extradataSize);
    if (extradata) {
        context->extradata = static_cast<uint8_t*>(av_mallocz(extradataSize + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!context->extradata) {
            avcodec_free_context(&context);
            return AVERROR(ENOMEM);
        }
        std::memcpy(context->extradata, extradata, extradataSize);
        context->extradata_size = static_cast<int>(extradataSize);
    }
    context->lowres = codecShift_;
    if (options_.skipDeblockingWhenReduced && converterShift_ > 0) context->skip_loop_filter = AVDISCARD_ALL;
    if (options_.lowDelay) context->flags |= AV_CODEC_FLAG_LOW_DELAY;

    const int ret = avcodec_open2(context, codec_, nullptr);
    if (ret < 0) {
        avcodec_free_context(&context);
        return ret;
    }
    *made = context;
    return 0;
}

void PacketDecoder::restart() {
    unusable_ = false;
    awaitingKeyframe_ = true;
    // The old decoder goes first, and with it whatever it allocated for the refused picture.
    avcodec_free_context(&context_);
    if (openContext(&context_) < 0) context_ = nullptr;
}

PacketDecoder::~PacketDecoder() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&context_);
}

Status PacketDecoder::fail(int averror, const char* what) {
    std::string message = std::string(what) + ": ";
    int status = mediaStatusFromAVError(averror);
    // libavcodec refuses a picture beyond max_pixels in its own ways: VP9 and the MPEG family are
    // left with no size at all, HEVC keeps the size and says it is out of memory. Either way the
    // packet asked for it.
    const int64_t pixels = int64_t{context_->coded_width} * context_->coded_height;
    const bool sizeRefused = pixels <= 0 || pixels > maxPixels_;
    if (sizeRefused) {
        message += "picture size refused (at most " + std::to_string(maxPixels_) + " pixels)";
        status = kMediaBadData;
    } else {
        message += describeAVError(averror);
        // The decoder's "invalid argument" is about what the packet asked for, not the caller.
        if (status == kMediaInvalidArgument) status = kMediaBadData;
    }
    // Damaged data leaves the decoder as it was; anything else may leave it unable to decode again.
    if (sizeRefused || averror != AVERROR_INVALIDDATA) {
        unusable_ = true;
        message += "; decoding starts again at the next keyframe";
    }
    return Status::error(std::move(message), status);
}

Status PacketDecoder::decode(CMSampleBufferRef sample, const FrameHandler& onFrame) {
    size_t size = 0;
    const uint8_t* bytes = CMSampleBufferGetPacketBytes(sample, &size);
    // An empty packet would tell libavcodec the stream has ended.
    if (!bytes || size == 0 || size > static_cast<size_t>(INT_MAX) - kCMSampleBufferPacketPadding)
        return Status::error("no packet to decode", kMediaInvalidArgument);
    // A restarted decoder has no pictures to refer to until a keyframe.
    if (awaitingKeyframe_ && !CMSampleBufferIsKeyFrame(sample)) return Status::OK();
    if (!context_) {
        const int ret = openContext(&context_);
        if (ret < 0) {
            context_ = nullptr;
            const int status = mediaStatusFromAVError(ret);
            return Status::error("cannot start the decoder again: " + describeAVError(ret),
                                 status == kMediaInvalidArgument ? kMediaBadData : status);
        }
    }
    if (timescale_ == 0) {
        const CMTime pts = CMSampleBufferGetPresentationTimeStamp(sample);
        const CMTime dts = CMSampleBufferGetDecodeTimeStamp(sample);
        timescale_ = CMTIME_IS_NUMERIC(pts) ? pts.timescale : CMTIME_IS_NUMERIC(dts) ? dts.timescale : 0;
        if (timescale_ > 0) context_->pkt_timebase = AVRational{1, timescale_};
    }

    // Wrap the sample's bytes (padded, immutable) instead of copying them.
    AVBufferRef* buffer = av_buffer_create(const_cast<uint8_t*>(bytes), size + kCMSampleBufferPacketPadding,
                                           releaseSample, const_cast<void*>(CFRetain(sample)), AV_BUFFER_FLAG_READONLY);
    if (!buffer) {
        CFRelease(sample);
        return Status::error("out of memory", kMediaOutOfMemory);
    }
    packet_->buf = buffer;
    packet_->data = const_cast<uint8_t*>(bytes);
    packet_->size = static_cast<int>(size);
    packet_->pts = toTimescale(CMSampleBufferGetPresentationTimeStamp(sample), timescale_);
    packet_->dts = toTimescale(CMSampleBufferGetDecodeTimeStamp(sample), timescale_);
    const int64_t duration = toTimescale(CMSampleBufferGetDuration(sample), timescale_);
    packet_->duration = duration == AV_NOPTS_VALUE ? 0 : duration;
    packet_->flags = CMSampleBufferIsKeyFrame(sample) ? AV_PKT_FLAG_KEY : 0;

    Status status;
    int ret = avcodec_send_packet(context_, packet_);
    if (ret == AVERROR(EAGAIN)) {
        // The decoder's output is full: take the pictures out, then it takes the packet.
        status = receiveFrames(onFrame, false);
        ret = avcodec_send_packet(context_, packet_);
    }
    av_packet_unref(packet_);
    if (ret < 0) {
        Status sent = fail(ret, "cannot decode packet");
        if (status.ok()) status = std::move(sent);
    }
    Status received = receiveFrames(onFrame, false);
    if (status.ok()) status = std::move(received);
    if (unusable_)
        restart();
    else if (status.ok())
        awaitingKeyframe_ = false;
    return status;
}

Status PacketDecoder::drain(const FrameHandler& onFrame) {
    if (!context_) return Status::OK();  // a failed restart: nothing is held
    Status status;
    const int ret = avcodec_send_packet(context_, nullptr);
    if (ret < 0 && ret != AVERROR_EOF)
        status = fail(ret, "cannot drain decoder");
    else
        status = receiveFrames(onFrame, true);
    if (unusable_)
        restart();
    else
        avcodec_flush_buffers(context_);
    return status;
}

Status PacketDecoder::receiveFrames(const FrameHandler& onFrame, bool draining) {
    for (;;) {
        const int ret = avcodec_receive_frame(context_, frame_);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return Status::OK();
        // A failed picture ends this round: the state of the decoder after an error is its own.
        if (ret < 0) return fail(ret, draining ? "cannot drain decoder" : "cannot decode picture");
        int64_t pts = frame_->pts != AV_NOPTS_VALUE ? frame_->pts : frame_->best_effort_timestamp;
        const CMTime time = pts != AV_NOPTS_VALUE && timescale_ > 0 ? CMTimeMake(pts, timescale_) : kCMTimeInvalid;
        const DecodedFrame picture(*frame_, reduced(frame_->width, converterShift_),
                                   reduced(frame_->height, converterShift_), time);
        if (onFrame) onFrame(picture);
        av_frame_unref(frame_);
    }
}
