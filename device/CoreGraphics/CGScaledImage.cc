#include <limits>

#include "CGDevice.h"
#include "CGDrawStep.h"
#include "CGRecording.h"

CGImageRef CGImageCreateScaled(CGImageRef image, size_t width, size_t height) {
    // The sizes pixman's 16.16 sampling coordinates reach, on both sides.
    constexpr size_t limit = 32767;
    if (image == nullptr || width == 0 || height == 0 || width > limit || height > limit || image->width > limit ||
        image->height > limit)
        return nullptr;
    // A picture that reaches deep produces its pixels, so that pictures do not pile up.
    if (cgImageDepth(*image) >= kCGPictureDepthLimit && !cgImagePixels(*image)) return nullptr;
    CGDrawStep step;
    step.box = {0, 0, static_cast<int>(width), static_cast<int>(height)};
    step.op = PIXMAN_OP_SRC;
    step.coversOpaquely = image->opaque;
    step.image = CGHandle<CGImageRef>::retain(image);
    step.transformed = true;
    // The factors cut to 16.16, as pixman_double_to_fixed does.
    pixman_transform_init_scale(
        &step.transform, pixman_double_to_fixed(static_cast<double>(image->width) / static_cast<double>(width)),
        pixman_double_to_fixed(static_cast<double>(image->height) / static_cast<double>(height)));
    step.filter = PIXMAN_FILTER_NEAREST;
    std::vector<CGDrawStep> steps;
    steps.push_back(std::move(step));
    auto picture = std::make_shared<CGRecording>(nullptr, 4 * width, image->opaque, std::move(steps));
    return cgCreatePictureImage(width, height, 4 * width, image->opaque, std::move(picture));
}
