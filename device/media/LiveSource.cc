#include "LiveSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/time.h>
}
#include <xcb/xcb.h>

#include <cstdlib>
#include <mutex>
#include <thread>

#include "../activity/FrameOrigin.h"
#include "FFmpegLogging.h"
#include "MediaStatus.h"
#include "ScreenCastReader.h"
#include "StreamFormat.h"

namespace {

// Errors in a row (other than "try again") after which a source is taken as gone.
constexpr int kMaxReadFailures = 3;
// How long a read waits before asking a source that said "try again" once more.
constexpr auto kRetryWait = std::chrono::milliseconds(5);
// A capture stamp further in the past than this is not a wall-clock capture time.
constexpr int64_t kMaxStampAgeMicros = 2'000'000;
// How often a screen source asks its X server whether it is still there.
constexpr auto kXServerCheckInterval = std::chrono::milliseconds(250);

const char* formatName(LiveSourceRequest::Kind kind) {
    switch (kind) {
        case LiveSourceRequest::Kind::x11:
            return "x11grab";
        case LiveSourceRequest::Kind::v4l2:
            return "video4linux2";
        case LiveSourceRequest::Kind::lavfi:
            return "lavfi";
        case LiveSourceRequest::Kind::portal:
        case LiveSourceRequest::Kind::pipewire:
            break;  // not libavdevice's
    }
    return "";
}

std::string sizeText(const PixelSize& size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

// Why a source could not be opened, in the words of its kind where FFmpeg's are vague.
std::string openFailure(const LiveSourceRequest& request, int averror) {
    const std::string reason = describeAVError(averror);
    switch (request.kind) {
        case LiveSourceRequest::Kind::x11:
            if (averror == AVERROR(EIO))
                return "no X server answers on display " + request.target + " (" + reason + ")";
            if (averror == AVERROR(EINVAL))
                return "the region does not fit on the screen of " + request.target + " (" + reason + ")";
            break;
        case LiveSourceRequest::Kind::v4l2:
            if (averror == AVERROR(ENOENT)) return "no such device (" + reason + ")";
            if (averror == AVERROR(ENOTTY) || averror == AVERROR(ENODEV))
                return "not a video capture device (" + reason + ")";
            if (averror == AVERROR(EACCES)) return "no permission to use the device (" + reason + ")";
            if (averror == AVERROR(EINVAL) || averror == AVERROR(EIO))
                return "the device refuses the size, rate or format asked for (" + reason + ")";
            break;
        case LiveSourceRequest::Kind::lavfi:
            if (averror == AVERROR(EINVAL) || averror == AVERROR_FILTER_NOT_FOUND)
                return "the graph is not a valid source graph (" + reason + ")";
            break;
        case LiveSourceRequest::Kind::portal:
        case LiveSourceRequest::Kind::pipewire:
            break;
    }
    return reason;
}

int interruptCallback(void* opaque) { return static_cast<std::atomic<bool>*>(opaque)->load() ? 1 : 0; }

}  // namespace

LivePicture::~LivePicture() { av_frame_free(&frame_); }

DecodedFrame LivePicture::view() const { return DecodedFrame(*frame_, frame_->width, frame_->height, kCMTimeInvalid); }

device::StatusOr<std::unique_ptr<LiveSource>> LiveSource::open(const LiveSourceRequest& request) {
    setUpFFmpegLogging();
    static std::once_flag registered;
    std::call_once(registered, [] { avdevice_register_all(); });
    device::StatusOr<std::unique_ptr<LiveSource>> source = openSource(request);
    if (!source.ok()) return device::Status::error("cannot open " + request.name() + ": " + source.status().message());
    return source;
}

device::StatusOr<std::unique_ptr<LiveSource>> LiveSource::openSource(const LiveSourceRequest& request) {
    std::unique_ptr<LiveSource> source(new LiveSource);
    source->name_ = request.name();
    source->kind_ = request.kind;
    if (request.kind == LiveSourceRequest::Kind::portal || request.kind == LiveSourceRequest::Kind::pipewire) {
        device::StatusOr<std::unique_ptr<ScreenCastReader>> screen = ScreenCastReader::open(request);
        if (!screen.ok()) return screen.status();
        source->screen_ = *std::move(screen);
        source->width_ = source->screen_->width();
        source->height_ = source->screen_->height();
        source->frameRate_ = source->screen_->frameRate();
        return source;
    }

    const AVInputFormat* input = av_find_input_format(formatName(request.kind));
    if (!input)
        return device::Status::error(std::string("this FFmpeg build has no ") + formatName(request.kind) + " input");
    std::string url = request.target;
    AVDictionary* options = nullptr;
    if (request.kind == LiveSourceRequest::Kind::x11) {
        url += "+" + std::to_string(request.x) + "," + std::to_string(request.y);
        if (request.region) av_dict_set(&options, "video_size", sizeText(*request.region).c_str(), 0);
        av_dict_set(&options, "draw_mouse", "0", 0);
    }
    if (request.inputSize) av_dict_set(&options, "video_size", sizeText(*request.inputSize).c_str(), 0);
    if (request.frameRate > 0) av_dict_set(&options, "framerate", std::to_string(request.frameRate).c_str(), 0);

    source->context_ = avformat_alloc_context();
    if (!source->context_) return device::Status::error("out of memory");
    source->context_->interrupt_callback = {interruptCallback, &source->interrupted_};
    // Frames go out as they come: no probing ahead, which would hold the first ones back.
    source->context_->flags |= AVFMT_FLAG_NOBUFFER;
    int ret = avformat_open_input(&source->context_, url.c_str(), input, &options);
    av_dict_free(&options);
    if (ret < 0) return device::Status::error(openFailure(request, ret));
    if (source->context_->nb_streams < 1 || source->context_->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return device::Status::error("it gives no video");

    AVStream* stream = source->context_->streams[0];
    const AVCodecParameters& parameters = *stream->codecpar;
    source->width_ = parameters.width;
    source->height_ = parameters.height;
    const AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        source->frameRate_ = av_q2d(rate);
    else if (stream->time_base.num == 1 && stream->time_base.den <= 1000)  // a filter graph counts its frames
        source->frameRate_ = stream->time_base.den;

    if (parameters.codec_id == AV_CODEC_ID_RAWVIDEO || parameters.codec_id == AV_CODEC_ID_WRAPPED_AVFRAME) {
        const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
        if (!codec)
            return device::Status::error(std::string("no decoder for ") + avcodec_get_name(parameters.codec_id));
        source->decoder_ = avcodec_alloc_context3(codec);
        if (!source->decoder_) return device::Status::error("out of memory");
        ret = avcodec_parameters_to_context(source->decoder_, &parameters);
        if (ret >= 0) ret = avcodec_open2(source->decoder_, codec, nullptr);
        if (ret < 0)
            return device::Status::error(std::string("cannot read its ") + avcodec_get_name(parameters.codec_id) +
                                         " pictures: " + describeAVError(ret));
    } else {
        device::StatusOr<FormatDescriptionHolder> format = formatDescriptionForStream(parameters, source->name_);
        if (!format.ok()) return format.status();
        source->format_ = *std::move(format);
    }
    source->packet_ = av_packet_alloc();
    if (!source->packet_) return device::Status::error("out of memory");
    if (request.kind == LiveSourceRequest::Kind::x11) {
        source->xServer_ = xcb_connect(request.target.c_str(), nullptr);
        if (xcb_connection_has_error(source->xServer_))
            return device::Status::error("no X server answers on display " + request.target);
        source->xServerAsked_ = std::chrono::steady_clock::now();
    }
    return source;
}

LiveSource::~LiveSource() {
    screen_.reset();
    if (xServer_) xcb_disconnect(xServer_);
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&context_);
}

LiveSource::Read LiveSource::fail(const std::string& why) const {
    return Read(Read::failed, device::Status::error(name_ + " " + why));
}

bool LiveSource::xServerAnswers() {
    if (!xServer_) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - xServerAsked_ < kXServerCheckInterval) return true;
    xServerAsked_ = now;
    // The smallest round trip there is.
    xcb_get_input_focus_reply_t* reply = xcb_get_input_focus_reply(xServer_, xcb_get_input_focus(xServer_), nullptr);
    const bool answered = reply != nullptr;
    std::free(reply);
    return answered && !xcb_connection_has_error(xServer_);
}

uint64_t LiveSource::captureTime(int64_t pts) {
    const uint64_t now = device::monotonicNanos();
    if (pts == AV_NOPTS_VALUE || kind_ == LiveSourceRequest::Kind::lavfi) return now;
    // x11grab and v4l2 stamp each frame with the wall clock when it was captured.
    const int64_t stamp = av_rescale_q(pts, context_->streams[0]->time_base, AVRational{1, 1000000});
    const int64_t age = av_gettime() - stamp;
    if (age < 0 || age > kMaxStampAgeMicros) return now;
    return now - static_cast<uint64_t>(age) * 1000;
}

bool LiveSource::pace(int64_t pts) {
    if (kind_ != LiveSourceRequest::Kind::lavfi || pts == AV_NOPTS_VALUE) return !interrupted_.load();
    if (!firstPts_) {
        firstPts_ = pts;
        firstAt_ = std::chrono::steady_clock::now();
    }
    const double seconds = (pts - *firstPts_) * av_q2d(context_->streams[0]->time_base);
    const auto due = firstAt_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(std::max(seconds, 0.0)));
    // In short steps, so that an interrupt is seen soon.
    while (!interrupted_.load() && std::chrono::steady_clock::now() < due)
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            due - std::chrono::steady_clock::now(), std::chrono::milliseconds(20)));
    return !interrupted_.load();
}

void LiveSource::interrupt() {
    interrupted_.store(true);
    if (screen_) screen_->interrupt();
}

LiveSource::Read LiveSource::readScreen(LiveFrame* frame) {
    AVFrame* picture = nullptr;
    device::Status why;
    switch (screen_->read(&picture, &frame->captureNanos, &why)) {
        case ScreenCastReader::Result::picture:
            frame->picture = std::make_unique<LivePicture>(picture);
            return Read::frame;
        case ScreenCastReader::Result::failed:
            return fail("stopped giving frames: " + why.message());
        case ScreenCastReader::Result::interrupted:
            break;
    }
    return Read::interrupted;
}

LiveSource::Read LiveSource::read(LiveFrame* frame) {
    *frame = LiveFrame{};
    if (screen_) return readScreen(frame);
    int failures = 0;
    for (;;) {
        if (interrupted_.load()) return Read::interrupted;
        av_packet_unref(packet_);
        const int ret = av_read_frame(context_, packet_);
        if (interrupted_.load()) return Read::interrupted;
        if (ret == AVERROR_EOF) return Read::ended;
        if (ret == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(kRetryWait);
            continue;
        }
        if (ret < 0) {
            if (++failures >= kMaxReadFailures) return fail("stopped giving frames: " + describeAVError(ret));
            std::this_thread::sleep_for(kRetryWait);
            continue;
        }
        if (packet_->stream_index != 0 || packet_->size <= 0) continue;
        if (!xServerAnswers()) return fail("stopped giving frames: its X server has gone");
        if (!pace(packet_->pts)) return Read::interrupted;
        frame->captureNanos = captureTime(packet_->pts);
        return decoder_ ? readPicture(frame) : readSample(frame);
    }
}

LiveSource::Read LiveSource::readPicture(LiveFrame* frame) {
    int ret = avcodec_send_packet(decoder_, packet_);
    AVFrame* picture = av_frame_alloc();
    if (!picture) return fail("could not be read: out of memory");
    if (ret >= 0) ret = avcodec_receive_frame(decoder_, picture);
    if (ret < 0) {
        av_frame_free(&picture);
        return fail("gave a picture that cannot be read: " + describeAVError(ret));
    }
    frame->picture = std::make_unique<LivePicture>(picture);
    return Read::frame;
}

LiveSource::Read LiveSource::readSample(LiveFrame* frame) {
    const AVRational timeBase = context_->streams[0]->time_base;
    const CMSampleTimingInfo timing{
        packet_->duration > 0 ? timeFromStream(packet_->duration, timeBase) : kCMTimeInvalid,
        timeFromStream(packet_->pts, timeBase), timeFromStream(packet_->dts, timeBase)};
    frame->keyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    const OSStatus status =
        CMSampleBufferCreateWithPacket(kCFAllocatorDefault, format_, packet_->data, static_cast<size_t>(packet_->size),
                                       &timing, frame->keyFrame, frame->sample.receive());
    if (status != noErr)
        return fail("gave a packet of " + std::to_string(packet_->size) + " bytes that was not accepted");
    return Read::frame;
}
