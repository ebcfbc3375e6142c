// VideoFileReader: the video of a file, as CoreMedia sample buffers. Opens the file with
// libavformat, picks its best video stream, describes it once (format description, size, frame
// rate, duration) and then yields one CMSampleBuffer per packet of that stream, in decode order,
// with the stream's timestamps as CMTimes in the stream's own time base.
//
// Damaged input never crashes or throws: opening fails with a message, and reading stops at what
// cannot be read. Packets the demuxer marks corrupt are still passed on; the decoder copes.
//
// Not thread-safe: use a reader from one thread at a time. The sample buffers it returns are
// independent objects that may go to any thread.
#pragma once

#include <memory>
#include <string>

#include "../CoreMedia/CMSampleBuffer.h"
#include "../CoreMedia/CoreMediaDevice.h"

#include "../base/StatusOr.h"

struct AVFormatContext;
struct AVPacket;

class VideoFileReader {
public:
    // Opens `path` and reads enough to describe its video stream. An error says "cannot open PATH:
    // <reason>", "PATH has no video stream", "PATH: unsupported video codec NAME", and the like.
    static device::StatusOr<std::unique_ptr<VideoFileReader>> open(const std::string& path);
    ~VideoFileReader();
    VideoFileReader(const VideoFileReader&) = delete;
    VideoFileReader& operator=(const VideoFileReader&) = delete;

    // The video stream's format description, lent for as long as the reader lives.
    CMVideoFormatDescriptionRef formatDescription() const { return format_.get(); }
    CMVideoDimensions dimensions() const { return CMVideoFormatDescriptionGetDimensions(format_.get()); }
    // The stream's duration; kCMTimeInvalid when the file does not say.
    CMTime duration() const { return duration_; }
    // Frames per second as the file declares or suggests it; 0 when unknown.
    double frameRate() const { return frameRate_; }
    const std::string& path() const { return path_; }

    // The next video packet as a sample buffer the caller owns. Null at the end of the stream, or
    // when the rest of the file cannot be read: readStatus() then says why (ok at a clean end).
    SampleBufferHolder nextSample();
    // Why reading stopped early; ok while reading goes well and at a clean end.
    const device::Status& readStatus() const { return readStatus_; }
    // Goes back to the first packet; an error (also kept as readStatus) when the file cannot seek.
    device::Status rewind();

private:
    VideoFileReader() = default;

    std::string path_;
    AVFormatContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    int streamIndex_ = -1;
    FormatDescriptionHolder format_;
    CMTime duration_ = kCMTimeInvalid;
    double frameRate_ = 0;
    device::Status readStatus_;
};
