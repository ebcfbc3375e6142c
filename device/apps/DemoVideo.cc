#include "DemoVideo.h"

#include <algorithm>
#include <cmath>

#include "../media/BgraImage.h"
#include "../media/ClipWriter.h"
#include "../media/HsbToRgb.h"

namespace device {

namespace {

// The scenes, by time in seconds from the start; a clip longer or shorter than twelve seconds
// stretches or squeezes them.
UnitRgb sceneColour(double t) {
    if (t < 3.0) return rgbFromHsb(t / 3.0, 1.0, 1.0);  // a full hue sweep
    if (t < 3.5) return {0, 0, 0};                      // cut to black
    if (t < 4.0) return {1, 1, 1};                      // cut to white
    if (t < 6.0) {                                      // hard cuts of primaries
        static const UnitRgb cuts[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}};
        return cuts[std::min(3, static_cast<int>((t - 4.0) / 0.5))];
    }
    if (t < 9.0) return rgbFromHsb(0.62, 1.0, 1.0 - 0.8 * (t - 6.0) / 3.0);  // deep blue fading down
    if (t < 11.0) return rgbFromHsb(1.0 - (t - 9.0) / 2.0, 0.45, 0.95);      // pastels, sweeping back
    return rgbFromHsb(0.08, 0.85, 1.0);                                      // warm orange to settle on
}

}  // namespace

void demoVideoColour(int index, const DemoVideoShape& shape, unsigned char rgb[3]) {
    double t = static_cast<double>(index) / shape.fps * 12.0 / shape.seconds;
    UnitRgb colour = sceneColour(t);
    rgb[0] = static_cast<unsigned char>(std::lround(colour.red * 255));
    rgb[1] = static_cast<unsigned char>(std::lround(colour.green * 255));
    rgb[2] = static_cast<unsigned char>(std::lround(colour.blue * 255));
}

Status writeDemoVideo(const std::string& path, const DemoVideoShape& shape) {
    ClipSettings settings;
    settings.codec = ClipCodec::mpeg4;
    settings.width = shape.width;
    settings.height = shape.height;
    settings.fps = shape.fps;
    settings.gop = shape.fps;  // a keyframe every second: the library's decoder starts at one
    const int frames = shape.fps * shape.seconds;
    const int barHeight = std::max(2, shape.height / 60);
    return writeClip(path, settings, frames, [&](int index, BgraImage& frame) {
        unsigned char rgb[3];
        demoVideoColour(index, shape, rgb);
        frame.fill(rgb[0], rgb[1], rgb[2]);
        // A thin playback bar along the bottom edge, far from the middle the library samples.
        int filled = shape.width * (index + 1) / frames;
        for (int y = shape.height - barHeight; y < shape.height; ++y) {
            uint8_t* row = frame.row(y);
            for (int x = 0; x < shape.width; ++x) {
                uint8_t level = x < filled ? 230 : 40;
                row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = level;
            }
        }
    });
}

}  // namespace device
