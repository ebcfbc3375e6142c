#include "VideoFileReader.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
}

#include "../CoreMedia/CMSampleBufferSharing.h"

#include "FFmpegLogging.h"
#include "MediaStatus.h"
#include "StreamFormat.h"

namespace {

// A demuxer that keeps failing without reaching the end of the file is given up after this many
// failures in a row, so damage cannot make a reader spin.
constexpr int kMaxConsecutiveReadFailures = 16;

}  // namespace

device::StatusOr<std::unique_ptr<VideoFileReader>> VideoFileReader::open(const std::string& path) {
    setUpFFmpegLogging();

    std::unique_ptr<VideoFileReader> reader(new VideoFileReader);
    reader->path_ = path;
    int ret = avformat_open_input(&reader->context_, path.c_str(), nullptr, nullptr);
    if (ret < 0) {
        return device::Status::error("cannot open " + path + ": " + describeAVError(ret));
    }
    ret = avformat_find_stream_info(reader->context_, nullptr);
    if (ret < 0) {
        return device::Status::error("cannot read " + path + ": " + describeAVError(ret));
    }
    const int index = av_find_best_stream(reader->context_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    // A still picture attached to an audio file (cover art) is not video.
    if (index < 0 || (reader->context_->streams[index]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
        return device::Status::error(path + " has no video stream");
    }
    reader->streamIndex_ = index;
    const AVStream* stream = reader->context_->streams[index];
    device::StatusOr<FormatDescriptionHolder> format = formatDescriptionForStream(*stream->codecpar, path);
    if (!format.ok()) return format.status();
    reader->format_ = *std::move(format);

    if (stream->duration != AV_NOPTS_VALUE)
        reader->duration_ = timeFromStream(stream->duration, stream->time_base);
    else if (reader->context_->duration != AV_NOPTS_VALUE)
        reader->duration_ = timeFromStream(reader->context_->duration, AVRational{1, AV_TIME_BASE});
    const AVRational rate = av_guess_frame_rate(reader->context_, const_cast<AVStream*>(stream), nullptr);
    if (rate.num > 0 && rate.den > 0) reader->frameRate_ = av_q2d(rate);

    reader->packet_ = av_packet_alloc();
    if (!reader->packet_) {
        return device::Status::error("cannot read " + path + ": out of memory");
    }
    return reader;
}

VideoFileReader::~VideoFileReader() {
    av_packet_free(&packet_);
    avformat_close_input(&context_);
}

SampleBufferHolder VideoFileReader::nextSample() {
    if (!context_ || !packet_) return nullptr;
    int failures = 0;
    for (;;) {
        av_packet_unref(packet_);
        const int ret = av_read_frame(context_, packet_);
        if (ret == AVERROR_EOF) return nullptr;
        if (ret < 0) {
            const bool atEnd = context_->pb && avio_feof(context_->pb);
            if (atEnd || ++failures >= kMaxConsecutiveReadFailures) {
                readStatus_ = device::Status::error("cannot read " + path_ + ": " + describeAVError(ret));
                return nullptr;
            }
            continue;
        }
        failures = 0;
        if (packet_->stream_index != streamIndex_ || packet_->size <= 0) continue;

        const AVRational timeBase = context_->streams[streamIndex_]->time_base;
        const CMSampleTimingInfo timing{
            packet_->duration > 0 ? timeFromStream(packet_->duration, timeBase) : kCMTimeInvalid,
            timeFromStream(packet_->pts, timeBase), timeFromStream(packet_->dts, timeBase)};
        const bool keyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        const int packetSize = packet_->size;
        SampleBufferHolder sample;
        OSStatus status;
        if (packet_->buf) {
            // Demuxed packets are reference counted and padded: share the bytes instead of copying.
            AVPacket* owned = av_packet_alloc();
            if (!owned) {
                readStatus_ = device::Status::error("cannot read " + path_ + ": out of memory");
                return nullptr;
            }
            av_packet_move_ref(owned, packet_);
            const uint8_t* bytes = owned->data;
            std::shared_ptr<const void> owner(owned, [](AVPacket* p) { av_packet_free(&p); });
            status = CMSampleBufferCreateSharingPacket(format_, bytes, static_cast<size_t>(packetSize),
                                                       std::move(owner), &timing, keyFrame, sample.receive());
        } else {
            status =
                CMSampleBufferCreateWithPacket(kCFAllocatorDefault, format_, packet_->data,
                                               static_cast<size_t>(packetSize), &timing, keyFrame, sample.receive());
        }
        if (status != noErr) {
            readStatus_ = device::Status::error("cannot read " + path_ + ": packet of " + std::to_string(packetSize) +
                                                " bytes not accepted (" + std::to_string(status) + ")");
            return nullptr;
        }
        return sample;
    }
}

device::Status VideoFileReader::rewind() {
    if (!context_) return device::Status::error("cannot rewind " + path_ + ": the file is not open");
    const AVStream* stream = context_->streams[streamIndex_];
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const int ret = av_seek_frame(context_, streamIndex_, start, AVSEEK_FLAG_BACKWARD);
    if (ret < 0) {
        readStatus_ = device::Status::error("cannot rewind " + path_ + ": " + describeAVError(ret));
        return readStatus_;
    }
    readStatus_ = device::Status::OK();
    return readStatus_;
}
