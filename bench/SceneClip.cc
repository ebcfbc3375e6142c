#include "SceneClip.h"

BgraImage sceneFrame(int width, int height, int index, unsigned& seed) {
    BgraImage frame = BgraImage::make(width, height);
    const int cx = width / 2 - index * 8, cy = height / 2, radius = height / 5;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.pixels.data() + static_cast<size_t>(y) * frame.bytesPerRow;
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int grain = ((seed >> 16) & 15) == 0;
            const bool disc = (x - cx) * (x - cx) + (y - cy) * (y - cy) < radius * radius;
            uint8_t* p = row + 4 * x;
            p[0] = static_cast<uint8_t>(disc ? 200 : ((x + index * 4) >> 3) + grain);
            p[1] = static_cast<uint8_t>(disc ? 40 : ((y + index * 2) >> 2) + grain);
            p[2] = static_cast<uint8_t>(disc ? 30 : ((x + y) >> 4) + index + grain);
            p[3] = 255;
        }
    }
    return frame;
}

device::Status writeSceneClip(const std::string& path, ClipCodec codec, int width, int height, int frames) {
    ClipSettings settings{.codec = codec, .width = width, .height = height, .fps = 30, .gop = 30};
    unsigned seed = 1;
    return writeClip(path, settings, frames,
                     [&](int index, BgraImage& frame) { frame = sceneFrame(width, height, index, seed); });
}
