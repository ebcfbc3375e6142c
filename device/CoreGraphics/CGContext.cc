#include "CGContext.h"

#include <algorithm>
#include <cmath>

#include "CGDrawStep.h"
#include "CGObjects.h"

namespace {

// Larger images do not fit pixman's 16.16 fixed-point sampling coordinates.
constexpr size_t drawableImageLimit = 32767;

double clampUnit(double value) { return value > 0 ? (value < 1 ? value : 1) : 0; }  // NaN gives 0

uint16_t toPixmanChannel(double value) { return static_cast<uint16_t>(std::lround(clampUnit(value) * 65535.0)); }

// The pixel index at or after `edge`, within 0..limit; a NaN counts as 0.
int pixelEdge(double edge, int limit) {
    // A pixel is inside when its centre is, so an edge at k + 0.5 or before starts at pixel k.
    double index = std::ceil(edge - 0.5);
    if (!(index > 0)) return 0;
    return index < limit ? static_cast<int>(index) : limit;
}

// The pixels whose centres lie between the device-space edges x = ax, bx and y = ay, by.
PixelBox pixelsBetween(const CGContext* context, double ax, double ay, double bx, double by) {
    int width = static_cast<int>(context->width), height = static_cast<int>(context->height);
    return {pixelEdge(std::min(ax, bx), width), pixelEdge(std::min(ay, by), height), pixelEdge(std::max(ax, bx), width),
            pixelEdge(std::max(ay, by), height)};
}

// Where `rect`'s top-left and bottom-right corners land in the context (`*a` and `*b`), and the
// whole pixels between them.
PixelBox deviceRect(const CGContext* context, CGRect rect, CGPoint* a, CGPoint* b) {
    rect = CGRectStandardize(rect);
    const CGAffineTransform& ctm = context->state.ctm;
    *a = CGPointApplyAffineTransform(rect.origin, ctm);
    *b = CGPointApplyAffineTransform({rect.origin.x + rect.size.width, rect.origin.y + rect.size.height}, ctm);
    return pixelsBetween(context, a->x, a->y, b->x, b->y);
}

pixman_op_t operatorFor(CGBlendMode mode) { return mode == kCGBlendModeCopy ? PIXMAN_OP_SRC : PIXMAN_OP_OVER; }

// The step's blending and alpha from the context's state, for a source that is opaque or not.
void setBlending(const CGContext* context, bool sourceOpaque, CGDrawStep* step) {
    const CGGState& state = context->state;
    step->op = operatorFor(state.blendMode);
    step->masked = state.alpha < 1;
    step->alpha = toPixmanChannel(state.alpha);
    // Compositing over an opaque pixel keeps it opaque, and so does copying an opaque source; else a
    // context without alpha sets its alpha bytes back to 255.
    step->makeOpaque = context->opaque && !(step->op == PIXMAN_OP_OVER || sourceOpaque);
    step->coversOpaquely = sourceOpaque && cgCoversContext(context, step->box);
}

// How many source pixels each way the better qualities average into one before sampling: an
// image shrunk by more than half is reduced by whole blocks first, since bilinear sampling reads
// only the four pixels nearest a point and would represent the image by a few of its pixels.
int averagingBlock(CGInterpolationQuality quality, double scale) {
    if (quality == kCGInterpolationNone || quality == kCGInterpolationLow || !(scale > 2)) return 1;
    return static_cast<int>(std::min(scale, static_cast<double>(drawableImageLimit)));
}

}  // namespace

CGContextRef CGContextRetain(CGContextRef context) {
    CFRetain(context);
    return context;
}

void CGContextRelease(CGContextRef context) { CFRelease(context); }

void CGContextSaveGState(CGContextRef context) {
    if (context) context->savedStates.push_back(context->state);
}

void CGContextRestoreGState(CGContextRef context) {
    if (context == nullptr || context->savedStates.empty()) return;
    context->state = context->savedStates.back();
    context->savedStates.pop_back();
}

void CGContextSetInterpolationQuality(CGContextRef context, CGInterpolationQuality quality) {
    if (context) context->state.interpolation = quality;
}

CGInterpolationQuality CGContextGetInterpolationQuality(CGContextRef context) {
    return context ? context->state.interpolation : kCGInterpolationDefault;
}

void CGContextSetBlendMode(CGContextRef context, CGBlendMode mode) {
    if (context) context->state.blendMode = mode;
}

void CGContextSetAlpha(CGContextRef context, CGFloat alpha) {
    if (context) context->state.alpha = clampUnit(alpha);
}

void CGContextScaleCTM(CGContextRef context, CGFloat sx, CGFloat sy) {
    if (context) context->state.ctm = CGAffineTransformScale(context->state.ctm, sx, sy);
}

void CGContextTranslateCTM(CGContextRef context, CGFloat tx, CGFloat ty) {
    if (context) context->state.ctm = CGAffineTransformTranslate(context->state.ctm, tx, ty);
}

CGAffineTransform CGContextGetCTM(CGContextRef context) {
    return context ? context->state.ctm : CGAffineTransformIdentity;
}

void CGContextSetFillColorWithColor(CGContextRef context, CGColorRef color) {
    if (context == nullptr || color == nullptr) return;
    std::copy(color->components, color->components + 4, context->state.fill);
}

void CGContextFillRect(CGContextRef context, CGRect rect) {
    if (context == nullptr || CGRectIsEmpty(rect)) return;
    const CGGState& state = context->state;
    CGPoint a, b;
    CGDrawStep step;
    step.box = deviceRect(context, rect, &a, &b);
    if (step.box.empty()) return;
    // pixman colours are premultiplied.
    double alpha = clampUnit(state.fill[3]) * state.alpha;
    step.color = {toPixmanChannel(clampUnit(state.fill[0]) * alpha), toPixmanChannel(clampUnit(state.fill[1]) * alpha),
                  toPixmanChannel(clampUnit(state.fill[2]) * alpha), toPixmanChannel(alpha)};
    setBlending(context, alpha >= 1, &step);
    // The fill's colour already holds the alpha.
    step.masked = false;
    cgDraw(context, std::move(step));
}

void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef image) {
    if (context == nullptr || image == nullptr || CGRectIsEmpty(rect)) return;
    if (image->width > drawableImageLimit || image->height > drawableImageLimit) return;
    const CGGState& state = context->state;
    // A flipping transform swaps the corners, which draws the image mirrored, as it should.
    CGPoint a, b;
    CGDrawStep step;
    step.box = deviceRect(context, rect, &a, &b);
    if (step.box.empty()) return;
    const PixelBox& box = step.box;

    // pixman samples source pixels at transform(i + 0.5, j + 0.5) for destination pixel
    // (box.x0 + i, box.y0 + j); the offsets stay small, as fixed-point numbers need.
    double scaleX = static_cast<double>(image->width) / (b.x - a.x);
    double scaleY = static_cast<double>(image->height) / (b.y - a.y);
    if (!std::isfinite(scaleX) || !std::isfinite(scaleY) || !std::isfinite(a.x) || !std::isfinite(a.y)) return;
    step.blockX = averagingBlock(state.interpolation, std::fabs(scaleX));
    step.blockY = averagingBlock(state.interpolation, std::fabs(scaleY));
    pixman_f_transform mapping{};
    mapping.m[0][0] = scaleX / step.blockX;
    mapping.m[0][2] = (box.x0 - a.x) * scaleX / step.blockX;
    mapping.m[1][1] = scaleY / step.blockY;
    mapping.m[1][2] = (box.y0 - a.y) * scaleY / step.blockY;
    mapping.m[2][2] = 1;
    if (!pixman_transform_from_pixman_f_transform(&step.transform, &mapping)) return;
    // Drawn at its own size on whole pixels, the image is copied as it is: no transform, so pixman
    // takes its plain copying paths (every filter gives the pixel itself there).
    const bool unscaled = scaleX == 1 && scaleY == 1 && step.blockX == 1 && step.blockY == 1 &&
                          mapping.m[0][2] == std::floor(mapping.m[0][2]) &&
                          mapping.m[1][2] == std::floor(mapping.m[1][2]);
    step.transformed = !unscaled;
    if (unscaled) {
        step.sourceX = static_cast<int>(mapping.m[0][2]);
        step.sourceY = static_cast<int>(mapping.m[1][2]);
    }
    step.filter = state.interpolation == kCGInterpolationNone ? PIXMAN_FILTER_NEAREST : PIXMAN_FILTER_BILINEAR;
    setBlending(context, image->opaque && state.alpha >= 1, &step);
    step.image = CGHandle<CGImageRef>::retain(image);
    cgDraw(context, std::move(step));
}
