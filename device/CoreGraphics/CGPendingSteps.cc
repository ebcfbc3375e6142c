// The steps a context that owns its pixels keeps until they are read (CGObjects.h, CGDrawStep.h).
#include "CGDrawStep.h"
#include "CGObjects.h"
#include "CGRecording.h"

namespace {

PixelBox wholeOf(const CGContext* context) {
    return {0, 0, static_cast<int>(context->width), static_cast<int>(context->height)};
}

}  // namespace

void cgDraw(CGContext* context, CGDrawStep step) {
    if (!context->ownsData) {
        // The caller reads its memory whenever it likes: drawn at once.
        if (cgPrepareToWrite(context, step.coversOpaquely)) (void)cgApplyStep(step, context->target, wholeOf(context));
        return;
    }
    // An image whose picture reaches deep produces its pixels first, so that snapshots of
    // snapshots do not hold every picture before them.
    if (step.image && cgImageDepth(*step.image.get()) >= kCGPictureDepthLimit && !cgImagePixels(*step.image.get()))
        return;
    if (step.coversOpaquely)
        context->pending.clear();
    else if (context->pending.size() >= kCGPendingStepLimit && !cgFlush(context))
        return;
    context->pending.push_back(std::move(step));
}

bool cgFlush(CGContext* context) {
    if (context->pending.empty()) return true;
    std::vector<CGDrawStep> steps = std::move(context->pending);
    context->pending.clear();
    if (!cgPrepareToWrite(context, steps.front().coversOpaquely)) return false;
    // A step that runs out of memory draws nothing, as it would have drawn nothing at once.
    for (const CGDrawStep& step : steps) (void)cgApplyStep(step, context->target, wholeOf(context));
    return true;
}

CGImageRef cgCreateImageOfSteps(CGContext* context) {
    // The pixels under the steps: none when the first step paints over all of them or they are
    // still to be cleared; else the context's, shared until it draws into them again.
    PixelStorage base;
    const bool covered = !context->pending.empty() && context->pending.front().coversOpaquely;
    if (!covered && !context->clearPending) base = context->storage;
    auto picture =
        std::make_shared<CGRecording>(std::move(base), context->bytesPerRow, context->opaque, context->pending);
    return cgCreatePictureImage(context->width, context->height, context->bytesPerRow, context->opaque,
                                std::move(picture));
}
