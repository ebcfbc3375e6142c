#include "CGStepSource.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "CGBlockAverage.h"
#include "CGPicture.h"

namespace {

int64_t area(PixelBox box) { return int64_t{box.x1 - box.x0} * (box.y1 - box.y0); }

// Source pixels first..last (a NaN counts as 0) as a range inside 0..size, never empty: samples
// beyond the edges read the edge pixels (pad repeat), which the range then holds.
void clampRange(double first, double last, int size, int* start, int* end) {
    const double top = size - 1;
    const double from = first > 0 ? std::min(first, top) : 0;
    const double to = last > from ? std::min(last, top) : from;
    *start = static_cast<int>(from);
    *end = static_cast<int>(to) + 1;
}

// The pixels of the sampled image (the averaged one when the step averages, of `width` x `height`)
// that destination pixels `d` read. A transformed step's sample points are found in doubles and
// widened by two pixels each way, which covers both pixels of a bilinear sample and the 16.16
// rounding; a wider range only reads pixels that go unused.
PixelBox footprint(const CGDrawStep& step, PixelBox d, int width, int height) {
    const int i0 = d.x0 - step.box.x0, i1 = d.x1 - 1 - step.box.x0;
    const int j0 = d.y0 - step.box.y0, j1 = d.y1 - 1 - step.box.y0;
    double x0, x1, y0, y1;
    if (step.transformed) {
        const auto& m = step.transform.matrix;
        auto at = [](pixman_fixed_t scale, pixman_fixed_t offset, int i) {
            return (static_cast<double>(scale) * (i + 0.5) + offset) / pixman_fixed_1;
        };
        const double ax = at(m[0][0], m[0][2], i0), bx = at(m[0][0], m[0][2], i1);
        const double ay = at(m[1][1], m[1][2], j0), by = at(m[1][1], m[1][2], j1);
        x0 = std::floor(std::min(ax, bx)) - 2, x1 = std::floor(std::max(ax, bx)) + 2;
        y0 = std::floor(std::min(ay, by)) - 2, y1 = std::floor(std::max(ay, by)) + 2;
    } else {
        x0 = step.sourceX + i0, x1 = step.sourceX + i1;
        y0 = step.sourceY + j0, y1 = step.sourceY + j1;
    }
    PixelBox box;
    clampRange(x0, x1, width, &box.x0, &box.x1);
    clampRange(y0, y1, height, &box.y0, &box.y1);
    return box;
}

}  // namespace

CGStepSource::CGStepSource(const CGDrawStep& step, PixelBox pixels) {
    CGImage& image = *step.image.get();
    const int width = static_cast<int>(image.width), height = static_cast<int>(image.height);
    const int blockX = step.blockX, blockY = step.blockY;
    const bool averaged = blockX > 1 || blockY > 1;
    const PixelBox sampled{0, 0, (width + blockX - 1) / blockX, (height + blockY - 1) / blockY};
    const PixelBox read = footprint(step, pixels, sampled.x1, sampled.y1);
    // What image_ holds of the sampled image.
    PixelBox held = read;

    CGImageContent content = cgImageContent(image);
    // A picture asked for most of its pixels produces them all, once, for every later reader.
    const PixelBox needed = averaged ? PixelBox{read.x0 * blockX, read.y0 * blockY, std::min(read.x1 * blockX, width),
                                                std::min(read.y1 * blockY, height)}
                                     : read;
    if (!averaged && content.picture) image_ = content.picture->wrap();
    if (image_ != nullptr) {
        held = sampled;
    } else if (content.picture && 2 * area(needed) >= int64_t{width} * height) {
        content.pixels = cgImagePixels(image);
        if (!content.pixels) return;
    }

    if (image_ == nullptr && !averaged) {
        const pixman_format_code_t format = image.opaque ? PIXMAN_x8r8g8b8 : PIXMAN_a8r8g8b8;
        if (content.pixels) {
            // pixman only reads a source image; the cast does not let anything write to it.
            kept_ = content.pixels;
            held = sampled;
            image_ = pixman_image_create_bits(format, width, height, reinterpret_cast<uint32_t*>(kept_.get()),
                                              static_cast<int>(image.bytesPerRow));
        } else {
            const int w = read.x1 - read.x0, h = read.y1 - read.y0;
            pixels_.resize(static_cast<size_t>(w) * h);
            if (!cgReadPixels(image, read, reinterpret_cast<uint8_t*>(pixels_.data()), 4 * static_cast<size_t>(w)))
                return;
            image_ = pixman_image_create_bits(format, w, h, pixels_.data(), 4 * w);
        }
    } else if (image_ == nullptr) {
        // The blocks start at the image's origin: `needed` starts on a block and ends on one or at
        // the image's edge, so its blocks are exactly those of the whole image there.
        const int w = needed.x1 - needed.x0, h = needed.y1 - needed.y0;
        std::vector<uint32_t> produced;
        const uint8_t* from;
        size_t stride;
        if (content.pixels) {
            stride = image.bytesPerRow;
            from = content.pixels.get() + static_cast<size_t>(needed.y0) * stride + 4 * static_cast<size_t>(needed.x0);
        } else {
            produced.resize(static_cast<size_t>(w) * h);
            stride = 4 * static_cast<size_t>(w);
            if (!cgReadPixels(image, needed, reinterpret_cast<uint8_t*>(produced.data()), stride)) return;
            from = reinterpret_cast<const uint8_t*>(produced.data());
        }
        BlockAverage average = cgAverageBlocks(from, stride, w, h, blockX, blockY);
        pixels_ = std::move(average.pixels);
        image_ =
            pixman_image_create_bits(PIXMAN_a8r8g8b8, average.width, average.height, pixels_.data(), 4 * average.width);
    }
    if (image_ == nullptr) return;

    if (step.transformed) {
        // Moved by whole pixels in 16.16, so every sample lands on the same source pixel, with the
        // same weights, as in the whole image.
        pixman_transform_t transform = step.transform;
        const int64_t tx = int64_t{transform.matrix[0][2]} - int64_t{held.x0} * pixman_fixed_1;
        const int64_t ty = int64_t{transform.matrix[1][2]} - int64_t{held.y0} * pixman_fixed_1;
        constexpr int64_t low = std::numeric_limits<pixman_fixed_t>::min();
        constexpr int64_t high = std::numeric_limits<pixman_fixed_t>::max();
        if (tx < low || tx > high || ty < low || ty > high) {
            pixman_image_unref(image_);
            image_ = nullptr;
            return;
        }
        transform.matrix[0][2] = static_cast<pixman_fixed_t>(tx);
        transform.matrix[1][2] = static_cast<pixman_fixed_t>(ty);
        pixman_image_set_transform(image_, &transform);
        x_ = pixels.x0 - step.box.x0;
        y_ = pixels.y0 - step.box.y0;
    } else {
        x_ = step.sourceX + pixels.x0 - step.box.x0 - held.x0;
        y_ = step.sourceY + pixels.y0 - step.box.y0 - held.y0;
    }
    // Edge pixels extend outwards, so sampling near the border never mixes in transparency.
    pixman_image_set_repeat(image_, PIXMAN_REPEAT_PAD);
    pixman_image_set_filter(image_, step.filter, nullptr, 0);
}

CGStepSource::~CGStepSource() {
    if (image_) pixman_image_unref(image_);
}
