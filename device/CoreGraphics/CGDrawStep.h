// A drawing step: one fill or image drawn into a bitmap context, resolved to the context's pixels:
// which pixels it covers and what pixman is asked to do there. Private to CoreGraphics.
//
// A context that owns its pixels keeps the steps drawn into it until its pixels are read, and an
// image made from it keeps them too (CGRecording.h). A step applied to any rectangle of the pixels
// gives there exactly what applying it to all of them gives: the same source sampled at the same
// points with the same transform, only over fewer destination pixels, and reading only the source
// pixels those sample.
#pragma once

#include "CGHandle.h"
#include "CGObjects.h"

struct CGDrawStep {
    PixelBox box{0, 0, 0, 0};  // the pixels covered, in the whole context
    pixman_op_t op = PIXMAN_OP_OVER;
    bool masked = false;  // drawn through a mask of `alpha`: the context's alpha was below 1
    uint16_t alpha = 0xffff;
    bool makeOpaque = false;      // the covered alpha bytes are set to 255 afterwards
    bool coversOpaquely = false;  // every pixel of the context is replaced by an opaque one

    // A fill: the premultiplied colour. An image: the image and how it is sampled.
    pixman_color_t color{0, 0, 0, 0};
    CGHandle<CGImageRef> image;
    // Transformed: destination pixel (x, y) samples the source at transform(x - box.x0 + 0.5,
    // y - box.y0 + 0.5). Otherwise it copies source pixel (sourceX + x - box.x0, sourceY + y - box.y0).
    bool transformed = false;
    pixman_transform_t transform{};
    int sourceX = 0, sourceY = 0;
    pixman_filter_t filter = PIXMAN_FILTER_NEAREST;
    // The source averaged in blocks of this many pixels before it is sampled (CGBlockAverage.h);
    // the transform then maps into the averaged image.
    int blockX = 1, blockY = 1;
};

// Applies `step` to the pixels of `region` (whole-context coordinates), which `target` holds with
// region's top-left pixel at its (0, 0). False, with the pixels partly drawn, when memory runs out.
bool cgApplyStep(const CGDrawStep& step, pixman_image_t* target, PixelBox region);

// How many steps a context keeps before it draws them into its pixels.
inline constexpr size_t kCGPendingStepLimit = 8;
