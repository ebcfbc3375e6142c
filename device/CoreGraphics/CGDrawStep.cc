#include "CGDrawStep.h"

#include <algorithm>
#include <optional>

#include "CGStepSource.h"

namespace {

PixelBox intersection(PixelBox a, PixelBox b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

// Sets the alpha bytes of `box` (target coordinates) to 255. Whole pixels at a time: the compiler
// turns this into wide stores.
void makeOpaque(pixman_image_t* target, PixelBox box) {
    auto* data = reinterpret_cast<uint8_t*>(pixman_image_get_data(target));
    const size_t stride = static_cast<size_t>(pixman_image_get_stride(target));
    for (int y = box.y0; y < box.y1; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = box.x0; x < box.x1; ++x) row[x] |= 0xff000000u;
    }
}

}  // namespace

bool cgApplyStep(const CGDrawStep& step, pixman_image_t* target, PixelBox region) {
    const PixelBox pixels = intersection(step.box, region);
    if (pixels.empty()) return true;
    std::optional<CGStepSource> source;
    pixman_image_t* fill = nullptr;
    if (step.image) {
        source.emplace(step, pixels);
        if (source->image() == nullptr) return false;
    } else {
        fill = pixman_image_create_solid_fill(&step.color);
        if (fill == nullptr) return false;
    }
    pixman_image_t* mask = nullptr;
    if (step.masked) {
        const pixman_color_t strength{0, 0, 0, step.alpha};
        mask = pixman_image_create_solid_fill(&strength);
    }
    const PixelBox at{pixels.x0 - region.x0, pixels.y0 - region.y0, pixels.x1 - region.x0, pixels.y1 - region.y0};
    pixman_image_composite32(step.op, fill ? fill : source->image(), mask, target, fill ? 0 : source->x(),
                             fill ? 0 : source->y(), 0, 0, at.x0, at.y0, at.x1 - at.x0, at.y1 - at.y0);
    if (mask) pixman_image_unref(mask);
    if (fill) pixman_image_unref(fill);
    if (step.makeOpaque) makeOpaque(target, at);
    return true;
}
