#include "CGContext.h"

#include <algorithm>
#include <cmath>

#include "CGBlockAverage.h"
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

// A mask that applies the context's alpha, or nullptr when everything is drawn at full strength.
pixman_image_t* alphaMask(const CGGState& state) {
    if (state.alpha >= 1) return nullptr;
    pixman_color_t color{0, 0, 0, toPixmanChannel(state.alpha)};
    return pixman_image_create_solid_fill(&color);
}

// Whether drawing leaves every alpha byte of an opaque context at 255 by itself: compositing over
// an opaque pixel always does, and copying does when what is copied is opaque.
bool keepsOpaque(const CGGState& state, bool sourceOpaque) {
    return operatorFor(state.blendMode) == PIXMAN_OP_OVER || sourceOpaque;
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
    PixelBox box = deviceRect(context, rect, &a, &b);
    if (box.empty()) return;
    // pixman colours are premultiplied.
    double alpha = clampUnit(state.fill[3]) * state.alpha;
    if (!cgPrepareToWrite(context, alpha >= 1 && cgCoversContext(context, box))) return;
    pixman_color_t color{toPixmanChannel(clampUnit(state.fill[0]) * alpha),
                         toPixmanChannel(clampUnit(state.fill[1]) * alpha),
                         toPixmanChannel(clampUnit(state.fill[2]) * alpha), toPixmanChannel(alpha)};
    pixman_image_t* source = pixman_image_create_solid_fill(&color);
    if (source == nullptr) return;
    pixman_image_composite32(operatorFor(state.blendMode), source, nullptr, context->target, 0, 0, 0, 0, box.x0, box.y0,
                             box.x1 - box.x0, box.y1 - box.y0);
    pixman_image_unref(source);
    if (context->opaque && !keepsOpaque(state, alpha >= 1)) cgMakeOpaque(context, box);
}

void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef image) {
    if (context == nullptr || image == nullptr || CGRectIsEmpty(rect)) return;
    if (image->width > drawableImageLimit || image->height > drawableImageLimit) return;
    const CGGState& state = context->state;
    // A flipping transform swaps the corners, which draws the image mirrored, as it should.
    CGPoint a, b;
    PixelBox box = deviceRect(context, rect, &a, &b);
    if (box.empty()) return;
    const bool opaqueSource = image->opaque && state.alpha >= 1;
    if (!cgPrepareToWrite(context, opaqueSource && cgCoversContext(context, box))) return;

    // pixman samples source pixels at transform(i + 0.5, j + 0.5) for destination pixel
    // (box.x0 + i, box.y0 + j); the offsets stay small, as fixed-point numbers need.
    double scaleX = static_cast<double>(image->width) / (b.x - a.x);
    double scaleY = static_cast<double>(image->height) / (b.y - a.y);
    if (!std::isfinite(scaleX) || !std::isfinite(scaleY) || !std::isfinite(a.x) || !std::isfinite(a.y)) return;
    const int blockX = averagingBlock(state.interpolation, std::fabs(scaleX));
    const int blockY = averagingBlock(state.interpolation, std::fabs(scaleY));
    BlockAverage averaged;
    if (blockX > 1 || blockY > 1) averaged = cgAverageBlocks(*image, blockX, blockY);
    pixman_f_transform mapping{};
    mapping.m[0][0] = scaleX / blockX;
    mapping.m[0][2] = (box.x0 - a.x) * scaleX / blockX;
    mapping.m[1][1] = scaleY / blockY;
    mapping.m[1][2] = (box.y0 - a.y) * scaleY / blockY;
    mapping.m[2][2] = 1;
    pixman_transform_t transform;
    if (!pixman_transform_from_pixman_f_transform(&transform, &mapping)) return;

    // pixman only reads a source image; the cast does not let anything write to the image.
    pixman_image_t* source =
        averaged.pixels.empty() ? pixman_image_create_bits(
                                      image->opaque ? PIXMAN_x8r8g8b8 : PIXMAN_a8r8g8b8, static_cast<int>(image->width),
                                      static_cast<int>(image->height), reinterpret_cast<uint32_t*>(image->pixels.get()),
                                      static_cast<int>(image->bytesPerRow))
                                : pixman_image_create_bits(PIXMAN_a8r8g8b8, averaged.width, averaged.height,
                                                           averaged.pixels.data(), 4 * averaged.width);
    if (source == nullptr) return;
    // Drawn at its own size on whole pixels, the image is copied as it is: no transform, so pixman
    // takes its plain copying paths (every filter gives the pixel itself there).
    int sourceX = 0, sourceY = 0;
    const bool unscaled = scaleX == 1 && scaleY == 1 && blockX == 1 && blockY == 1 &&
                          mapping.m[0][2] == std::floor(mapping.m[0][2]) &&
                          mapping.m[1][2] == std::floor(mapping.m[1][2]);
    if (unscaled) {
        sourceX = static_cast<int>(mapping.m[0][2]);
        sourceY = static_cast<int>(mapping.m[1][2]);
    } else {
        pixman_image_set_transform(source, &transform);
    }
    // Edge pixels extend outwards, so sampling near the border never mixes in transparency.
    pixman_image_set_repeat(source, PIXMAN_REPEAT_PAD);
    pixman_image_set_filter(
        source, state.interpolation == kCGInterpolationNone ? PIXMAN_FILTER_NEAREST : PIXMAN_FILTER_BILINEAR, nullptr,
        0);
    pixman_image_t* mask = alphaMask(state);
    pixman_image_composite32(operatorFor(state.blendMode), source, mask, context->target, sourceX, sourceY, 0, 0,
                             box.x0, box.y0, box.x1 - box.x0, box.y1 - box.y0);
    if (mask) pixman_image_unref(mask);
    pixman_image_unref(source);
    if (context->opaque && !keepsOpaque(state, opaqueSource)) cgMakeOpaque(context, box);
}
