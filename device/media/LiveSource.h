// LiveSource: frames from a live video source (an X screen, a V4L2 capture device, a libavfilter
// graph) read with libavdevice, or a screen shared over PipeWire (ScreenCastReader.h), as they are
// captured.
//
// A source gives one of two kinds of frame, fixed when it opens:
// - raw pictures (the screen, a raw capture card, a filter graph): decoded at once into a
//   LivePicture, which a player shows as a player layer shows its pictures;
// - compressed samples (MJPEG or H.264 from a capture card): CMSampleBuffers for a display layer,
//   one per packet, timed by the packets' timestamps.
// Each frame carries its capture time on CLOCK_MONOTONIC (activity/FrameOrigin.h): the source's
// own wall-clock capture stamp where it gives one (x11grab, v4l2; PipeWire's on the monotonic
// clock), else the moment the read returned. A filter graph produces frames as fast as it can: the source paces it to
// its timestamps, as a live source would come.
//
// read() blocks until the next frame; interrupt() (any thread) makes a blocked or later read end.
// One reading thread at a time; frames are independent objects that may go to any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "../CoreMedia/CMSampleBuffer.h"
#include "../CoreMedia/CoreMediaDevice.h"

#include "../base/StatusOr.h"
#include "DecodedFrame.h"
#include "LiveSourceRequest.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct xcb_connection_t;
class ScreenCastReader;

// A decoded picture that owns its pixels (a reference to libavcodec's buffers).
class LivePicture {
public:
    explicit LivePicture(AVFrame* frame) : frame_(frame) {}
    ~LivePicture();
    LivePicture(const LivePicture&) = delete;
    LivePicture& operator=(const LivePicture&) = delete;
    // The picture as a DecodedFrame, valid while this object lives.
    DecodedFrame view() const;

private:
    AVFrame* frame_;
};

struct LiveFrame {
    std::unique_ptr<LivePicture> picture;  // a raw source's frame
    SampleBufferHolder sample;             // a compressed source's frame
    uint64_t captureNanos = 0;             // CLOCK_MONOTONIC
    bool keyFrame = true;                  // a sample that needs no earlier one to decode
};

class LiveSource {
public:
    // Opens the source and learns its format; nothing is read yet. An error says "cannot open
    // SOURCE: REASON" (no X server on that display, no such device, not a capture device, a size or
    // format the device refuses, a graph that does not parse) when it cannot.
    static device::StatusOr<std::unique_ptr<LiveSource>> open(const LiveSourceRequest& request);
    ~LiveSource();
    LiveSource(const LiveSource&) = delete;
    LiveSource& operator=(const LiveSource&) = delete;

    // What a read came to. `frame`: one is in the caller's frame; `ended`: the source has no more
    // (a finite graph); `failed`: it went away or broke, and `status` says how; `interrupted`:
    // interrupt() was called. Only `failed` carries an error.
    struct [[nodiscard]] Read {
        enum Kind { frame, ended, failed, interrupted };
        Read(Kind kind = interrupted, device::Status status = {}) : kind(kind), status(std::move(status)) {}
        Kind kind;
        device::Status status;
    };
    // Waits for the next frame and puts it in `*frame`.
    Read read(LiveFrame* frame);
    void interrupt();

    bool compressed() const { return format_ != nullptr; }
    // The compressed frames' format description (lent); null for raw sources.
    CMVideoFormatDescriptionRef formatDescription() const { return format_.get(); }
    int width() const { return width_; }
    int height() const { return height_; }
    // Frames per second the source announces; 0 when it does not say.
    double frameRate() const { return frameRate_; }
    const std::string& name() const { return name_; }

private:
    LiveSource() = default;
    // open(), with errors that say only what is wrong.
    static device::StatusOr<std::unique_ptr<LiveSource>> openSource(const LiveSourceRequest& request);
    Read fail(const std::string& why) const;
    Read readPicture(LiveFrame* frame);
    Read readScreen(LiveFrame* frame);
    Read readSample(LiveFrame* frame);
    uint64_t captureTime(int64_t pts);
    // Sleeps until `pts` is due when the source does not pace itself; false when interrupted.
    bool pace(int64_t pts);
    // Whether the X server of a screen source still answers; asked a few times a second.
    bool xServerAnswers();

    std::string name_;
    LiveSourceRequest::Kind kind_ = LiveSourceRequest::Kind::x11;
    AVFormatContext* context_ = nullptr;
    AVCodecContext* decoder_ = nullptr;  // raw sources
    AVPacket* packet_ = nullptr;
    FormatDescriptionHolder format_;  // compressed sources
    int width_ = 0, height_ = 0;
    double frameRate_ = 0;
    std::atomic<bool> interrupted_{false};
    // Pacing of sources that do not pace themselves: the first frame's timestamp and when it came.
    std::optional<int64_t> firstPts_;
    std::chrono::steady_clock::time_point firstAt_;
    // x11grab goes on handing out its last picture once its X server has gone: a connection of the
    // source's own asks the server.
    xcb_connection_t* xServer_ = nullptr;
    std::chrono::steady_clock::time_point xServerAsked_;
    std::unique_ptr<ScreenCastReader> screen_;  // portal and pipewire sources
};
