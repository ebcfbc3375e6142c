// Shrinking an image by whole blocks of pixels, each replaced by its mean; private to CoreGraphics.
// Drawing uses it to average the area an output pixel covers when an image is shrunk a lot,
// which bilinear sampling alone cannot do.
#pragma once

#include <cstdint>
#include <vector>

#include "CGObjects.h"

struct BlockAverage {
    std::vector<uint32_t> pixels;  // premultiplied a8r8g8b8 words, `width` per row
    int width = 0;
    int height = 0;
};

// The image shrunk by `blockWidth` x `blockHeight` (each at least 1): ceil(width / blockWidth) by
// ceil(height / blockHeight) pixels; blocks cut short at the right and bottom edges average the
// pixels they have. Premultiplied pixels average correctly channel by channel.
BlockAverage cgAverageBlocks(const CGImage& image, int blockWidth, int blockHeight);
