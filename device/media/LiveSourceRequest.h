// LiveSourceRequest: which live video source to read, as `glimmora play --live` names it:
//   x11:DISPLAY[+X,Y]   an X screen (":0", ":1.0"), or the region of it whose top left corner is X,Y;
//   v4l2:PATH           a Video4Linux2 capture device (a webcam, an HDMI or USB capture card);
//   lavfi:GRAPH         a libavfilter source graph ("color=c=red:s=320x240:r=30").
// Sizes and the frame rate come separately: `region` (the size of the screen region to grab),
// `inputSize` (the picture size to ask a capture device for), `frameRate` (frames per second to
// grab or ask for). Parsing checks only the text; whether the source exists is for opening it.
#pragma once

#include <optional>
#include <string>

#include "../base/Status.h"

struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};

struct LiveSourceRequest {
    enum class Kind { x11, v4l2, lavfi };
    Kind kind = Kind::x11;
    std::string target;                  // the display (without the offset), the device path, or the graph
    int x = 0, y = 0;                    // x11: the region's top left corner
    std::optional<PixelSize> region;     // x11: the region's size; whole screen when absent
    std::optional<PixelSize> inputSize;  // v4l2: the size to ask the device for
    double frameRate = 0;                // x11, v4l2: 0 for the source's own rate

    // "x11::1+100,50 (640x360)", "v4l2:/dev/video0", "lavfi:color=c=red": the source as messages name it.
    std::string name() const;
};

// The source that `text` names, with the sizes and rate given beside it ("" and 0 when not given),
// or nullopt with `*status` saying what is wrong: an unknown kind, an empty target, a malformed
// offset or size, a size or rate for a kind that takes none.
std::optional<LiveSourceRequest> parseLiveSource(const std::string& text, const std::string& size,
                                                 const std::string& inputSize, double frameRate,
                                                 device::Status* status);

// "WxH" with both sides 1 ... 16384; nullopt otherwise.
std::optional<PixelSize> parsePixelSize(const std::string& text);
