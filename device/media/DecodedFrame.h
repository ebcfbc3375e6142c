// DecodedFrame: one picture as a PacketDecoder hands it out, lent to the frame callback and valid
// only during that call. Convert it with a FrameConverter to keep it.
#pragma once

#include "../CoreMedia/CMTime.h"

struct AVFrame;

class DecodedFrame {
public:
    DecodedFrame(const AVFrame& frame, int width, int height, CMTime presentationTimeStamp)
        : frame_(frame), width_(width), height_(height), presentationTimeStamp_(presentationTimeStamp) {}

    // The size the picture is to be shown at: the decoded size, reduced by whatever part of the
    // decoder's reduction the codec could not do itself (the converter scales to this size).
    int width() const { return width_; }
    int height() const { return height_; }
    // The presentation time of the packet this picture came from; kCMTimeInvalid when unknown.
    CMTime presentationTimeStamp() const { return presentationTimeStamp_; }
    // The picture as libavcodec made it, for media code that includes FFmpeg.
    const AVFrame& avFrame() const { return frame_; }

private:
    const AVFrame& frame_;
    int width_;
    int height_;
    CMTime presentationTimeStamp_;
};
