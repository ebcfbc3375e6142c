#include "CGPicture.h"

#include <cstring>
#include <new>

CGImageContent cgImageContent(CGImage& image) {
    if (image.pixels) return {image.pixels, nullptr};
    std::lock_guard<std::mutex> hold(image.producedLock);
    return {image.produced, image.picture};
}

CGImageRef cgCreatePictureImage(size_t width, size_t height, size_t bytesPerRow, bool opaque,
                                std::shared_ptr<const CGPicture> picture) {
    auto* image = new (std::nothrow) CGImage;
    if (image == nullptr) return nullptr;
    image->width = width;
    image->height = height;
    image->bytesPerRow = bytesPerRow;
    image->opaque = opaque;
    image->picture = std::move(picture);
    return image;
}

PixelStorage cgImagePixels(CGImage& image) {
    CGImageContent content = cgImageContent(image);
    if (content.pixels || !content.picture) return content.pixels;
    // Produced outside the lock: another thread asking at the same time produces the same bytes,
    // and the first to finish is kept.
    PixelStorage pixels = cgAllocatePixels(image.bytesPerRow * image.height);
    const PixelBox whole{0, 0, static_cast<int>(image.width), static_cast<int>(image.height)};
    if (!pixels || !content.picture->render(whole, pixels.get(), image.bytesPerRow)) return nullptr;
    std::lock_guard<std::mutex> hold(image.producedLock);
    if (!image.produced) {
        image.produced = std::move(pixels);
        image.picture.reset();
    }
    return image.produced;
}

bool cgReadPixels(CGImage& image, PixelBox region, uint8_t* out, size_t stride) {
    CGImageContent content = cgImageContent(image);
    if (content.picture) return content.picture->render(region, out, stride);
    if (!content.pixels) return false;
    const size_t bytes = 4 * static_cast<size_t>(region.x1 - region.x0);
    for (int y = region.y0; y < region.y1; ++y)
        std::memcpy(
            out + static_cast<size_t>(y - region.y0) * stride,
            content.pixels.get() + static_cast<size_t>(y) * image.bytesPerRow + 4 * static_cast<size_t>(region.x0),
            bytes);
    return true;
}

int cgImageDepth(CGImage& image) {
    CGImageContent content = cgImageContent(image);
    return content.picture ? content.picture->depth() : 0;
}
