#include "PictureRegion.h"

#include <algorithm>

namespace {
constexpr uint64_t kBytesPerPixel = 4;
}

std::optional<PictureRegion> pictureRegion(int width, int height, uint32_t chunkOffset, int32_t chunkStride,
                                           uint32_t bufferSize, const CropRectangle& crop) {
    if (width <= 0 || height <= 0 || chunkStride < 0) return std::nullopt;
    const uint64_t row = static_cast<uint64_t>(width) * kBytesPerPixel;
    const uint64_t stride = chunkStride == 0 ? row : static_cast<uint64_t>(chunkStride);
    if (stride < row) return std::nullopt;

    int64_t left = 0, top = 0, right = width, bottom = height;
    if (crop.width > 0 && crop.height > 0) {
        left = std::clamp<int64_t>(crop.x, 0, width);
        top = std::clamp<int64_t>(crop.y, 0, height);
        right = std::clamp<int64_t>(crop.x + crop.width, left, width);
        bottom = std::clamp<int64_t>(crop.y + crop.height, top, height);
    }
    if (right <= left || bottom <= top) return std::nullopt;

    // All in 64 bits: 32-bit sizes and strides cannot overflow it.
    const uint64_t first =
        chunkOffset + static_cast<uint64_t>(top) * stride + static_cast<uint64_t>(left) * kBytesPerPixel;
    const uint64_t end =
        first + static_cast<uint64_t>(bottom - top - 1) * stride + static_cast<uint64_t>(right - left) * kBytesPerPixel;
    if (end > bufferSize) return std::nullopt;
    return PictureRegion{static_cast<size_t>(first), static_cast<size_t>(stride), static_cast<int>(right - left),
                         static_cast<int>(bottom - top)};
}
