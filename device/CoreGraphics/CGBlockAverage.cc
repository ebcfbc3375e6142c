#include "CGBlockAverage.h"

#include <algorithm>

BlockAverage cgAverageBlocks(const uint8_t* pixels, size_t bytesPerRow, int width, int height, int blockWidth,
                             int blockHeight) {
    BlockAverage result;
    result.width = (width + blockWidth - 1) / blockWidth;
    result.height = (height + blockHeight - 1) / blockHeight;
    result.pixels.resize(static_cast<size_t>(result.width) * result.height);
    // 64-bit sums: a block may hold the whole image.
    std::vector<uint64_t> sums(static_cast<size_t>(result.width) * 4);
    for (int outY = 0; outY < result.height; ++outY) {
        std::fill(sums.begin(), sums.end(), 0);
        const int rowEnd = std::min(height, (outY + 1) * blockHeight);
        for (int y = outY * blockHeight; y < rowEnd; ++y) {
            const uint8_t* row = pixels + static_cast<size_t>(y) * bytesPerRow;
            for (int x = 0; x < width; ++x) {
                uint64_t* sum = &sums[static_cast<size_t>(x / blockWidth) * 4];
                for (int channel = 0; channel < 4; ++channel) sum[channel] += row[4 * x + channel];
            }
        }
        const uint64_t rows = static_cast<uint64_t>(rowEnd - outY * blockHeight);
        for (int outX = 0; outX < result.width; ++outX) {
            const uint64_t columns =
                static_cast<uint64_t>(std::min(width, (outX + 1) * blockWidth) - outX * blockWidth);
            const uint64_t count = rows * columns;
            const uint64_t* sum = &sums[static_cast<size_t>(outX) * 4];
            uint32_t pixel = 0;
            for (int channel = 0; channel < 4; ++channel)
                pixel |= static_cast<uint32_t>((sum[channel] + count / 2) / count) << (8 * channel);
            result.pixels[static_cast<size_t>(outY) * result.width + outX] = pixel;
        }
    }
    return result;
}
