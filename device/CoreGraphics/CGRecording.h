// CGRecording: the picture of an image made from a context that kept what was drawn into it (or
// made by scaling another image): the pixels before the steps and the steps drawn over them.
// Private to CoreGraphics.
#pragma once

#include <cstddef>
#include <vector>

#include "CGDrawStep.h"
#include "CGPicture.h"

class CGRecording : public CGPicture {
public:
    // `base`: the pixels before the steps, rows `bytesPerRow` apart, or empty for cleared ones
    // (transparent black; opaque black when `opaque`).
    CGRecording(PixelStorage base, size_t bytesPerRow, bool opaque, std::vector<CGDrawStep> steps);

    bool render(PixelBox region, uint8_t* out, size_t stride) const override;
    int depth() const override { return depth_; }

private:
    PixelStorage base_;
    size_t bytesPerRow_;
    bool opaque_;
    std::vector<CGDrawStep> steps_;
    int depth_ = 1;
};
