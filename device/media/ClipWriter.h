// ClipWriter: writes short video clips with libavcodec's own encoders from BGRA frames the caller
// draws, for tests and the demo. The container follows the file name: ".mkv" (Matroska), ".webm"
// (WebM, VP9 only), ".ts" (MPEG transport stream), ".h264" (a raw H.264 stream, no timestamps at
// all), anything else MP4.
//
// Output is deterministic: the same settings and frames give the same bytes (one encoder thread,
// fixed options, no time stamps or version strings in the file). Quality is high (x264/x265 CRF
// 12, MPEG-4 and MJPEG qscale 2, VP9 CRF 10), so solid colours decode back within a few levels.
// Pictures are 4:2:0, limited range (full range for MJPEG), tagged BT.601 below HD and BT.709 from
// HD on.
//
// Not thread-safe: one thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "../base/StatusOr.h"
#include "BgraImage.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

enum class ClipCodec { h264, hevc, mpeg4, vp9, mjpeg };

struct ClipSettings {
    ClipCodec codec = ClipCodec::h264;
    int width = 64;        // even, 16 ... 8192
    int height = 48;       // even, 16 ... 8192
    int fps = 25;          // 1 ... 240
    int gop = 25;          // frames from one keyframe to the next, at least 1
    bool bframes = false;  // let the encoder reorder (H.264, HEVC, MPEG-4); VP9 has no B-frames
};

// "h264", "hevc", "mpeg4", "vp9", "mjpeg".
const char* clipCodecName(ClipCodec codec);
// The codec of a name clipCodecName gives; nullopt for any other text.
std::optional<ClipCodec> clipCodecNamed(std::string_view name);

class ClipWriter {
public:
    // Creates `path` (replacing it) and starts a clip. An error names the cause: invalid settings,
    // "no h264 encoder (libx264) in this FFmpeg build", a container that cannot hold the codec, or
    // the file that cannot be written.
    static device::StatusOr<std::unique_ptr<ClipWriter>> open(const std::string& path, const ClipSettings& settings);
    // A writer dropped before finish() closes the file as it is (an MP4 is then unplayable).
    ~ClipWriter();
    ClipWriter(const ClipWriter&) = delete;
    ClipWriter& operator=(const ClipWriter&) = delete;

    // Encodes one frame, which must have the clip's size. An error says why when it does not (the
    // writer is still usable then) or encoding or writing fails (the writer is then unusable, and
    // every later call gives that failure again).
    device::Status addFrame(const BgraImage& frame);
    // Flushes the encoder and completes the file, or says why not; a second call does nothing and
    // gives the first call's result.
    device::Status finish();

    int framesAdded() const { return framesAdded_; }

private:
    ClipWriter() = default;
    device::Status writePackets();
    // Marks the writer unusable by a failure to `what` the file; the failure it returns is kept.
    device::Status failed(const std::string& what, int averror);

    std::string path_;
    ClipSettings settings_;
    AVFormatContext* output_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVStream* stream_ = nullptr;
    AVFrame* picture_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    int framesAdded_ = 0;
    bool finished_ = false;
    device::Status failure_;  // what made the writer unusable; ok while it is usable
};

// Writes a whole clip of `frameCount` frames to `path`: `paint(index, frame)` draws frame `index`
// into `frame` (of the clip's size; it holds the previous frame's pixels). An error names the cause
// when the clip cannot be opened, a frame cannot be added or the file cannot be completed.
device::Status writeClip(const std::string& path, const ClipSettings& settings, int frameCount,
                         const std::function<void(int index, BgraImage& frame)>& paint);
