// CGPackedPicture: the picture of an image whose pixels are kept elsewhere as packed B,G,R,x (a
// grabbed screen), read where they are rather than copied. Private to CoreGraphics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "CGPicture.h"

class CGPackedPicture : public CGPicture {
public:
    CGPackedPicture(std::shared_ptr<const uint8_t> pixels, int width, int height, size_t bytesPerRow)
        : pixels_(std::move(pixels)), width_(width), height_(height), bytesPerRow_(bytesPerRow) {}

    // The pixels with alpha 255, whatever the fourth bytes hold.
    bool render(PixelBox region, uint8_t* out, size_t stride) const override;
    // Read as x8r8g8b8, which takes the fourth byte for 255.
    pixman_image_t* wrap() const override;
    int depth() const override { return 1; }

private:
    std::shared_ptr<const uint8_t> pixels_;
    int width_, height_;
    size_t bytesPerRow_;
};
