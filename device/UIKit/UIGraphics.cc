#include "UIGraphics.h"

#include <cmath>
#include <limits>
#include <vector>

#include "../Foundation/NSLog.h"

#include "../CoreGraphics/CGHandle.h"
#include "UIImage.h"
#include "UIScreen.h"

namespace {

struct ContextEntry {
    CGHandle<CGContextRef> context;
    CGFloat scale;
    bool isImageContext;  // opened by UIGraphicsBegin..., not pushed
};

// Released when the thread ends, with any contexts it left open.
std::vector<ContextEntry>& contextStack() {
    static thread_local std::vector<ContextEntry> stack;
    return stack;
}

// The number of pixels for `points` at `scale`, or 0 when it cannot be a bitmap dimension.
size_t pixelCount(CGFloat points, CGFloat scale) {
    double pixels = std::ceil(points * scale);
    if (!(pixels >= 1) || pixels > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<size_t>(pixels);
}

}  // namespace

void UIGraphicsBeginImageContext(CGSize size) { UIGraphicsBeginImageContextWithOptions(size, NO, 1.0); }

void UIGraphicsBeginImageContextWithOptions(CGSize size, BOOL opaque, CGFloat scale) {
    CGFloat requested = scale;
    if (scale == 0) scale = UIScreen::mainScreen()->scale();
    const CGBitmapInfo info =
        (opaque ? kCGImageAlphaNoneSkipFirst : kCGImageAlphaPremultipliedFirst) | kCGBitmapByteOrder32Little;
    CGHandle<CGContextRef> context;
    if (size.width > 0 && size.height > 0 && scale > 0 && std::isfinite(scale)) {
        size_t width = pixelCount(size.width, scale), height = pixelCount(size.height, scale);
        if (width && height) {
            CGHandle<CGColorSpaceRef> space = CGHandle<CGColorSpaceRef>::adopt(CGColorSpaceCreateDeviceRGB());
            context = CGHandle<CGContextRef>::adopt(CGBitmapContextCreate(nullptr, width, height, 8, 0, space, info));
        }
    }
    if (!context) {
        NSLog(
            "UIGraphicsBeginImageContext() failed to allocate CGBitmapContext: size={%g, %g}, scale=%f, "
            "bitmapInfo=0x%x.",
            size.width, size.height, requested, info);
        return;
    }
    CGContextScaleCTM(context, scale, scale);
    contextStack().push_back({std::move(context), scale, true});
}

CGContextRef UIGraphicsGetCurrentContext() {
    auto& stack = contextStack();
    return stack.empty() ? nullptr : stack.back().context.get();
}

Strong<UIImage> UIGraphicsGetImageFromCurrentImageContext() {
    auto& stack = contextStack();
    if (stack.empty() || !stack.back().isImageContext) return nil;
    CGHandle<CGImageRef> image = CGHandle<CGImageRef>::adopt(CGBitmapContextCreateImage(stack.back().context));
    if (!image) return nil;
    return UIImage::imageWithCGImage_scale(image, stack.back().scale);
}

void UIGraphicsEndImageContext() {
    auto& stack = contextStack();
    if (stack.empty() || !stack.back().isImageContext) return;
    stack.pop_back();
}

void UIGraphicsPushContext(CGContextRef context) {
    if (context == nullptr) return;
    contextStack().push_back({CGHandle<CGContextRef>::retain(context), 1.0, false});
}

void UIGraphicsPopContext() {
    auto& stack = contextStack();
    if (stack.empty() || stack.back().isImageContext) return;
    stack.pop_back();
}
