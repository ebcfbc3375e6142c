#include "ClipWriter.h"

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "FFmpegLogging.h"
#include "MediaStatus.h"
#include "VideoColour.h"

namespace {

struct CodecChoice {
    ClipCodec codec;
    const char* name;
    const char* encoder;
};

constexpr CodecChoice kCodecs[] = {
    {ClipCodec::h264, "h264", "libx264"},  {ClipCodec::hevc, "hevc", "libx265"}, {ClipCodec::mpeg4, "mpeg4", "mpeg4"},
    {ClipCodec::vp9, "vp9", "libvpx-vp9"}, {ClipCodec::mjpeg, "mjpeg", "mjpeg"},
};

const CodecChoice& choiceFor(ClipCodec codec) {
    for (const CodecChoice& choice : kCodecs)
        if (choice.codec == codec) return choice;
    return kCodecs[0];
}

bool endsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

device::Status checkSettings(const ClipSettings& s) {
    auto side = [](int n) { return n >= 16 && n <= 8192 && n % 2 == 0; };
    if (!side(s.width) || !side(s.height))
        return device::Status::error("clip size " + std::to_string(s.width) + "x" + std::to_string(s.height) +
                                     " is not usable: each side must be even and 16 ... 8192");
    if (s.fps < 1 || s.fps > 240)
        return device::Status::error("frame rate " + std::to_string(s.fps) + " is not in 1 ... 240");
    if (s.gop < 1) return device::Status::error("keyframe interval " + std::to_string(s.gop) + " is less than 1");
    return device::Status::OK();
}

// The encoder's private options: fixed values only, so that output never varies between runs.
void setEncoderOptions(ClipCodec codec, const ClipSettings& s, AVCodecContext* encoder, AVDictionary** options) {
    const std::string gop = std::to_string(s.gop);
    const int bframes = s.bframes ? 2 : 0;
    switch (codec) {
        case ClipCodec::h264:
            av_dict_set(options, "preset", "veryfast", 0);
            av_dict_set(options, "crf", "12", 0);
            // No scene-cut keyframes: keyframes fall exactly every `gop` frames.
            av_dict_set(options, "x264-params", "scenecut=0", 0);
            break;
        case ClipCodec::hevc: {
            av_dict_set(options, "preset", "veryfast", 0);
            av_dict_set(options, "crf", "12", 0);
            const std::string params =
                "log-level=error:pools=none:frame-threads=1:scenecut=0:open-gop=0:keyint=" + gop +
                ":min-keyint=" + gop + ":bframes=" + std::to_string(bframes);
            av_dict_set(options, "x265-params", params.c_str(), 0);
            break;
        }
        case ClipCodec::mpeg4:
        case ClipCodec::mjpeg:
            encoder->flags |= AV_CODEC_FLAG_QSCALE;
            encoder->global_quality = FF_QP2LAMBDA * 2;
            break;
        case ClipCodec::vp9:
            encoder->bit_rate = 0;
            av_dict_set(options, "crf", "10", 0);
            av_dict_set(options, "deadline", "realtime", 0);
            av_dict_set(options, "cpu-used", "8", 0);
            av_dict_set(options, "lag-in-frames", "0", 0);
            av_dict_set(options, "row-mt", "0", 0);
            break;
    }
}

}  // namespace

const char* clipCodecName(ClipCodec codec) { return choiceFor(codec).name; }

std::optional<ClipCodec> clipCodecNamed(std::string_view name) {
    for (const CodecChoice& choice : kCodecs)
        if (name == choice.name) return choice.codec;
    return std::nullopt;
}

device::Status ClipWriter::failed(const std::string& what, int averror) {
    failure_ = device::Status::error(what + " " + path_ + ": " + describeAVError(averror));
    return failure_;
}

device::StatusOr<std::unique_ptr<ClipWriter>> ClipWriter::open(const std::string& path, const ClipSettings& settings) {
    setUpFFmpegLogging();
    if (device::Status checked = checkSettings(settings); !checked.ok()) return checked;
    const CodecChoice& choice = choiceFor(settings.codec);
    const AVCodec* codec = avcodec_find_encoder_by_name(choice.encoder);
    if (!codec) {
        return device::Status::error(std::string("no ") + choice.name + " encoder (" + choice.encoder +
                                     ") in this FFmpeg build");
    }

    std::unique_ptr<ClipWriter> writer(new ClipWriter);
    writer->path_ = path;
    writer->settings_ = settings;
    const char* container = endsWith(path, ".mkv")    ? "matroska"
                            : endsWith(path, ".webm") ? "webm"
                            : endsWith(path, ".ts")   ? "mpegts"
                            : endsWith(path, ".h264") ? "h264"
                                                      : "mp4";
    int ret = avformat_alloc_output_context2(&writer->output_, nullptr, container, path.c_str());
    if (ret < 0 || !writer->output_) {
        return device::Status::error(std::string("cannot start a ") + container + " file: " + describeAVError(ret));
    }
    AVFormatContext* output = writer->output_;
    if (avformat_query_codec(output->oformat, codec->id, FF_COMPLIANCE_NORMAL) == 0) {
        return device::Status::error(std::string("a ") + container + " file cannot hold " + choice.name + " video (" +
                                     path + ")");
    }
    output->flags |= AVFMT_FLAG_BITEXACT;  // no creation time or library version in the file

    writer->stream_ = avformat_new_stream(output, nullptr);
    writer->encoder_ = avcodec_alloc_context3(codec);
    writer->picture_ = av_frame_alloc();
    writer->packet_ = av_packet_alloc();
    if (!writer->stream_ || !writer->encoder_ || !writer->picture_ || !writer->packet_) {
        return device::Status::error("cannot start " + path + ": out of memory");
    }
    AVCodecContext* encoder = writer->encoder_;
    encoder->width = settings.width;
    encoder->height = settings.height;
    // JPEG pictures are full range.
    const bool jpeg = settings.codec == ClipCodec::mjpeg;
    const AVPixelFormat pixelFormat = jpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    encoder->pix_fmt = pixelFormat;
    encoder->time_base = AVRational{1, settings.fps};
    encoder->framerate = AVRational{settings.fps, 1};
    encoder->gop_size = settings.gop;
    encoder->keyint_min = settings.gop;
    encoder->max_b_frames = settings.bframes ? 2 : 0;
    encoder->thread_count = 1;
    encoder->flags |= AV_CODEC_FLAG_BITEXACT;
    const bool hd = defaultColourSpace(settings.width, settings.height) == AVCOL_SPC_BT709;
    encoder->colorspace = defaultColourSpace(settings.width, settings.height);
    encoder->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    encoder->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    encoder->color_range = jpeg ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    if (output->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* options = nullptr;
    setEncoderOptions(settings.codec, settings, encoder, &options);
    ret = avcodec_open2(encoder, codec, &options);
    av_dict_free(&options);
    if (ret < 0) {
        return device::Status::error(std::string("cannot start the ") + choice.encoder +
                                     " encoder: " + describeAVError(ret));
    }
    ret = avcodec_parameters_from_context(writer->stream_->codecpar, encoder);
    if (ret < 0) {
        return device::Status::error("cannot describe the video of " + path + ": " + describeAVError(ret));
    }
    writer->stream_->time_base = encoder->time_base;
    writer->stream_->avg_frame_rate = encoder->framerate;

    if (!(output->oformat->flags & AVFMT_NOFILE)) {
        ret = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (ret < 0) {
            return device::Status::error("cannot create " + path + ": " + describeAVError(ret));
        }
    }
    ret = avformat_write_header(output, nullptr);
    if (ret < 0) {
        return device::Status::error("cannot write " + path + ": " + describeAVError(ret));
    }

    AVFrame* picture = writer->picture_;
    picture->format = pixelFormat;
    picture->width = settings.width;
    picture->height = settings.height;
    ret = av_frame_get_buffer(picture, 0);
    writer->scaler_ =
        sws_getContext(settings.width, settings.height, AV_PIX_FMT_BGRA, settings.width, settings.height, pixelFormat,
                       SWS_BILINEAR | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr);
    if (ret < 0 || !writer->scaler_) {
        return device::Status::error("cannot start " + path + ": out of memory");
    }
    // BGRA in is full range; YUV out is limited range (full for JPEG) in the matrix the clip is tagged with.
    const int matrix = swsColourMatrix(encoder->colorspace, settings.width, settings.height);
    sws_setColorspaceDetails(writer->scaler_, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(matrix),
                             jpeg ? 1 : 0, 0, 1 << 16, 1 << 16);
    return writer;
}

ClipWriter::~ClipWriter() {
    sws_freeContext(scaler_);
    av_packet_free(&packet_);
    av_frame_free(&picture_);
    avcodec_free_context(&encoder_);
    if (output_) {
        if (!(output_->oformat->flags & AVFMT_NOFILE)) avio_closep(&output_->pb);
        avformat_free_context(output_);
    }
}

device::Status ClipWriter::addFrame(const BgraImage& frame) {
    if (!failure_.ok()) return failure_;
    if (finished_) return device::Status::error("clip " + path_ + " is already finished");
    if (frame.width != settings_.width || frame.height != settings_.height || frame.pixels.empty()) {
        return device::Status::error("frame of " + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
                                     " for a " + std::to_string(settings_.width) + "x" +
                                     std::to_string(settings_.height) + " clip");
    }
    int ret = av_frame_make_writable(picture_);
    if (ret < 0) return failed("cannot encode a frame of", ret);
    const uint8_t* source[4] = {frame.pixels.data(), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {static_cast<int>(frame.bytesPerRow), 0, 0, 0};
    sws_scale(scaler_, source, sourceStride, 0, frame.height, picture_->data, picture_->linesize);
    picture_->pts = framesAdded_;
    if (settings_.codec == ClipCodec::mpeg4 || settings_.codec == ClipCodec::mjpeg)
        picture_->quality = encoder_->global_quality;
    ret = avcodec_send_frame(encoder_, picture_);
    if (ret < 0) return failed("cannot encode a frame of", ret);
    ++framesAdded_;
    return writePackets();
}

device::Status ClipWriter::writePackets() {
    for (;;) {
        int ret = avcodec_receive_packet(encoder_, packet_);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return device::Status::OK();
        if (ret < 0) return failed("cannot encode", ret);
        av_packet_rescale_ts(packet_, encoder_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        ret = av_interleaved_write_frame(output_, packet_);  // takes the packet's data, leaves it blank
        if (ret < 0) return failed("cannot write", ret);
    }
}

device::Status ClipWriter::finish() {
    // A failure is kept in failure_, so a second call gives the first call's result.
    if (finished_ || !failure_.ok()) {
        finished_ = true;
        return failure_;
    }
    finished_ = true;
    int ret = avcodec_send_frame(encoder_, nullptr);
    if (ret < 0) return failed("cannot finish encoding", ret);
    if (device::Status written = writePackets(); !written.ok()) return written;
    ret = av_write_trailer(output_);
    if (ret < 0) return failed("cannot complete", ret);
    if (!(output_->oformat->flags & AVFMT_NOFILE)) {
        ret = avio_closep(&output_->pb);
        if (ret < 0) return failed("cannot close", ret);
    }
    return device::Status::OK();
}

device::Status writeClip(const std::string& path, const ClipSettings& settings, int frameCount,
                         const std::function<void(int index, BgraImage& frame)>& paint) {
    device::StatusOr<std::unique_ptr<ClipWriter>> writer = ClipWriter::open(path, settings);
    if (!writer.ok()) return writer.status();
    BgraImage frame = BgraImage::make(settings.width, settings.height);
    for (int i = 0; i < frameCount; ++i) {
        paint(i, frame);
        if (device::Status added = (*writer)->addFrame(frame); !added.ok()) return added;
    }
    return (*writer)->finish();
}
