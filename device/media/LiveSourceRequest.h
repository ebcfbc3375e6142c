// LiveSourceRequest: which live video source to read, as `glimmora play --live` names it:
//   x11:DISPLAY[+X,Y]   an X screen (":0", ":1.0"), or the region of it whose top left corner is X,Y;
//   v4l2:PATH           a Video4Linux2 capture device (a webcam, an HDMI or USB capture card);
//   lavfi:GRAPH         a libavfilter source graph ("color=c=red:s=320x240:r=30");
//   portal[:monitor|:window]  a screen or one window, shared by the desktop's ScreenCast portal
//                       (Wayland desktops, and X ones that run the portal);
//   pipewire:NODE       a PipeWire video node, by id or node.name.
// Sizes and the frame rate come separately: `region` (the size of the screen region to grab),
// `inputSize` (the picture size to ask a capture device for), `frameRate` (frames per second to
// grab or ask for). Parsing checks only the text (and, for an empty display, whether DISPLAY is
// set, to say why it is empty); whether the source exists is for opening it.
#pragma once

#include <optional>
#include <string>

#include "../base/StatusOr.h"

// The slowest rate a source may be asked for: one frame every 10 s. Slower, the lights would keep
// the colour of a picture long gone, and waits of minutes between frames look like a hung app.
constexpr double kMinLiveFrameRate = 0.1;
constexpr double kMaxLiveFrameRate = 1000;
// The largest side of a screen region or a capture size, and the furthest offset on a screen.
constexpr int kMaxLiveSide = 16384;

struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};

struct LiveSourceRequest {
    enum class Kind { x11, v4l2, lavfi, portal, pipewire };
    Kind kind = Kind::x11;
    std::string target;                  // the display (without the offset), the device path, the graph,
                                         // "monitor" or "window", or the node
    int x = 0, y = 0;                    // x11: the region's top left corner
    std::optional<PixelSize> region;     // x11: the region's size; whole screen when absent
    std::optional<PixelSize> inputSize;  // v4l2: the size to ask the device for
    double frameRate = 0;                // x11, v4l2, portal, pipewire: kMinLiveFrameRate ... kMaxLiveFrameRate; 0
                                         // for the source's own (portal, pipewire: the most to send)
    bool forgetScreen = false;           // portal: drop the kept restore token and ask again

    // "x11::1+100,50 (640x360)", "v4l2:/dev/video0", "lavfi:color=c=red": the source as messages name it.
    std::string name() const;
};

// The source that `text` names, with the sizes and rate given beside it ("" and nullopt when not
// given), or an error saying what is wrong: an unknown kind, an empty target, a malformed or too
// large offset or size, a rate out of range, a size or rate for a kind that takes none.
device::StatusOr<LiveSourceRequest> parseLiveSource(const std::string& text, const std::string& size,
                                                    const std::string& inputSize, std::optional<double> frameRate);

// "WxH" with both sides 1 ... kMaxLiveSide; otherwise an error saying "is not WxH" or "is too
// large: ...", for the caller to put after the text it names.
device::StatusOr<PixelSize> parsePixelSize(const std::string& text);
