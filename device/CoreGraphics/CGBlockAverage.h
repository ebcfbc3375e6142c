// Shrinking an image by whole blocks of pixels, each replaced by its mean; private to CoreGraphics.
// Drawing uses it to average the area an output pixel covers when an image is shrunk a lot,
// which bilinear sampling alone cannot do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct BlockAverage {
    std::vector<uint32_t> pixels;  // premultiplied a8r8g8b8 words, `width` per row
    int width = 0;
    int height = 0;
};

// `height` rows of `width` premultiplied B,G,R,A pixels, `bytesPerRow` apart, shrunk by
// `blockWidth` x `blockHeight` (each at least 1) with blocks starting at the first pixel:
// ceil(width / blockWidth) by ceil(height / blockHeight) pixels; blocks cut short at the right and
// bottom edges average the pixels they have. Premultiplied pixels average correctly channel by
// channel. A part of an image that starts on a block and ends on one or at the image's edge gives
// exactly the blocks of the whole image there.
BlockAverage cgAverageBlocks(const uint8_t* pixels, size_t bytesPerRow, int width, int height, int blockWidth,
                             int blockHeight);
