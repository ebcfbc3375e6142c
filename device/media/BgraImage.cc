#include "BgraImage.h"

namespace {

size_t rowBytes(int width) { return (static_cast<size_t>(width) * 4 + 63) & ~static_cast<size_t>(63); }

}  // namespace

BgraImage BgraImage::make(int width, int height) {
    BgraImage image;
    if (width <= 0 || height <= 0) return image;
    image.width = width;
    image.height = height;
    image.bytesPerRow = rowBytes(width);
    image.pixels.assign(image.bytesPerRow * static_cast<size_t>(height), 0);
    return image;
}

BgraImage BgraImage::filled(int width, int height, uint8_t red, uint8_t green, uint8_t blue) {
    BgraImage image = make(width, height);
    image.fill(red, green, blue);
    return image;
}

void BgraImage::resize(int newWidth, int newHeight) {
    if (newWidth <= 0 || newHeight <= 0) {
        *this = BgraImage();
        return;
    }
    width = newWidth;
    height = newHeight;
    bytesPerRow = rowBytes(newWidth);
    pixels.resize(bytesPerRow * static_cast<size_t>(newHeight));
}

void BgraImage::fill(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    for (int y = 0; y < height; ++y) {
        uint8_t* p = row(y);
        for (int x = 0; x < width; ++x, p += 4) {
            p[0] = blue;
            p[1] = green;
            p[2] = red;
            p[3] = alpha;
        }
    }
}
