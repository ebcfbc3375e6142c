// What pixman samples for an image drawing step over some of its pixels (CGDrawStep.h). Private to
// CoreGraphics.
#pragma once

#include <cstdint>
#include <vector>

#include "CGDrawStep.h"

class CGStepSource {
public:
    // The source of `step` (an image step) for its destination pixels `pixels` (inside step.box):
    // the whole image where its pixels are in memory (stored, produced, or kept elsewhere), else
    // only the pixels those destination pixels sample, produced now; averaged in blocks when the
    // step averages. Sampled with the step's filter, edges extended outwards.
    CGStepSource(const CGDrawStep& step, PixelBox pixels);
    ~CGStepSource();
    CGStepSource(const CGStepSource&) = delete;
    CGStepSource& operator=(const CGStepSource&) = delete;

    // nullptr when memory ran out.
    pixman_image_t* image() const { return image_; }
    // The source position to composite the first of the destination pixels from.
    int x() const { return x_; }
    int y() const { return y_; }

private:
    pixman_image_t* image_ = nullptr;
    int x_ = 0, y_ = 0;
    PixelStorage kept_;             // the image's pixels, while image_ reads them
    std::vector<uint32_t> pixels_;  // pixels produced or averaged for image_
};
