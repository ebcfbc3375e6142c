#include "CGRecording.h"

#include <algorithm>
#include <cstring>

CGRecording::CGRecording(PixelStorage base, size_t bytesPerRow, bool opaque, std::vector<CGDrawStep> steps)
    : base_(std::move(base)), bytesPerRow_(bytesPerRow), opaque_(opaque), steps_(std::move(steps)) {
    for (const CGDrawStep& step : steps_)
        if (step.image) depth_ = std::max(depth_, 1 + cgImageDepth(*step.image.get()));
}

bool CGRecording::render(PixelBox region, uint8_t* out, size_t stride) const {
    const int width = region.x1 - region.x0, height = region.y1 - region.y0;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = out + static_cast<size_t>(y) * stride;
        if (base_) {
            std::memcpy(
                row,
                base_.get() + static_cast<size_t>(region.y0 + y) * bytesPerRow_ + 4 * static_cast<size_t>(region.x0),
                4 * static_cast<size_t>(width));
        } else {
            auto* words = reinterpret_cast<uint32_t*>(row);
            std::fill(words, words + width, opaque_ ? 0xff000000u : 0u);
        }
    }
    if (steps_.empty()) return true;
    pixman_image_t* target = pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height, reinterpret_cast<uint32_t*>(out),
                                                      static_cast<int>(stride));
    if (target == nullptr) return false;
    bool drawn = true;
    for (const CGDrawStep& step : steps_) drawn = drawn && cgApplyStep(step, target, region);
    pixman_image_unref(target);
    return drawn;
}
