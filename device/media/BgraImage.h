// BgraImage: a packed 32-bit image in memory order B, G, R, A (premultiplied alpha; video is
// opaque, so alpha is 255), the form in which the media layer hands decoded pictures to
// CoreGraphics-style code. Rows are `bytesPerRow` apart (a multiple of 64, as iOS bitmaps are).
//
// A plain value: copy or move it; not synchronised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct BgraPixel {
    uint8_t blue, green, red, alpha;
};

struct BgraImage {
    int width = 0;
    int height = 0;
    size_t bytesPerRow = 0;
    std::vector<uint8_t> pixels;

    // An image of the given size with every byte zero (transparent black); an empty image when
    // either side is not positive.
    static BgraImage make(int width, int height);
    // An opaque image of one colour.
    static BgraImage filled(int width, int height, uint8_t red, uint8_t green, uint8_t blue);

    // Makes the image `width` x `height`, keeping the allocation when it is already large enough;
    // the contents are then unspecified.
    void resize(int newWidth, int newHeight);
    void fill(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha = 255);

    bool empty() const { return width <= 0 || height <= 0; }
    uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * bytesPerRow; }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * bytesPerRow; }
    // The pixel at (x, y); the caller keeps x and y inside the image.
    BgraPixel pixel(int x, int y) const {
        const uint8_t* p = row(y) + static_cast<size_t>(x) * 4;
        return {p[0], p[1], p[2], p[3]};
    }
};
