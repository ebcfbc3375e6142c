#include "CGPackedPicture.h"

#include <limits>

#include "CGDevice.h"

bool CGPackedPicture::render(PixelBox region, uint8_t* out, size_t stride) const {
    for (int y = region.y0; y < region.y1; ++y) {
        const auto* from = reinterpret_cast<const uint32_t*>(pixels_.get() + static_cast<size_t>(y) * bytesPerRow_);
        auto* to = reinterpret_cast<uint32_t*>(out + static_cast<size_t>(y - region.y0) * stride);
        for (int x = region.x0; x < region.x1; ++x) to[x - region.x0] = from[x] | 0xff000000u;
    }
    return true;
}

pixman_image_t* CGPackedPicture::wrap() const {
    // pixman only reads a source image; the cast does not let anything write to it.
    return pixman_image_create_bits(PIXMAN_x8r8g8b8, width_, height_,
                                    const_cast<uint32_t*>(reinterpret_cast<const uint32_t*>(pixels_.get())),
                                    static_cast<int>(bytesPerRow_));
}

CGImageRef CGImageCreateWithBGRXPixels(size_t width, size_t height, size_t bytesPerRow,
                                       std::shared_ptr<const uint8_t> pixels) {
    constexpr size_t limit = std::numeric_limits<int32_t>::max();
    if (!pixels || width == 0 || height == 0 || width > limit / 4 || height > limit || 4 * width > limit / height)
        return nullptr;
    if (bytesPerRow < 4 * width || bytesPerRow % 4 != 0 || bytesPerRow > limit ||
        reinterpret_cast<uintptr_t>(pixels.get()) % 4 != 0)
        return nullptr;
    auto picture = std::make_shared<CGPackedPicture>(std::move(pixels), static_cast<int>(width),
                                                     static_cast<int>(height), bytesPerRow);
    return cgCreatePictureImage(width, height, 4 * width, true, std::move(picture));
}
