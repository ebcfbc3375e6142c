// The built-in video: a short clip made on demand with libavcodec's own MPEG-4 encoder, whose
// colours make lights visibly change: smooth hue sweeps, hard cuts, black and white frames, a
// fade, pastels, and a steady colour at the end for the lights to settle on. The same bytes every
// time for the same build of FFmpeg. Any thread.
#pragma once

#include <string>

#include "../base/Status.h"

namespace device {

struct DemoVideoShape {
    int width = 640;
    int height = 360;
    int fps = 30;
    int seconds = 12;
};

// The colour of frame `index` of the built-in video (before encoding), as 8-bit red, green, blue.
void demoVideoColour(int index, const DemoVideoShape& shape, unsigned char rgb[3]);

// Writes the built-in video to `path` (replacing it), or says why not.
Status writeDemoVideo(const std::string& path, const DemoVideoShape& shape = {});

}  // namespace device
