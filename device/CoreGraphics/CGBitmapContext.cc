#include "CGBitmapContext.h"

#include <cstdlib>
#include <limits>
#include <new>

#include "CGObjects.h"

namespace {
constexpr size_t sizeLimit = std::numeric_limits<int32_t>::max();  // pixman counts in int
}  // namespace

CGContext::~CGContext() {
    if (target) pixman_image_unref(target);
    if (ownsData) std::free(data);
}

void cgMakeOpaque(CGContext* context, PixelBox box) {
    for (int y = box.y0; y < box.y1; ++y) {
        uint8_t* row = context->data + static_cast<size_t>(y) * context->bytesPerRow;
        for (int x = box.x0; x < box.x1; ++x) row[4 * x + 3] = 255;
    }
}

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space, uint32_t bitmapInfo) {
    if (bitsPerComponent != 8 || space == nullptr) return nullptr;
    if ((bitmapInfo & ~(kCGBitmapAlphaInfoMask | kCGBitmapByteOrderMask)) != 0) return nullptr;
    CGImageAlphaInfo alpha = bitmapInfo & kCGBitmapAlphaInfoMask;
    if ((bitmapInfo & kCGBitmapByteOrderMask) != kCGBitmapByteOrder32Little) return nullptr;
    if (alpha != kCGImageAlphaPremultipliedFirst && alpha != kCGImageAlphaNoneSkipFirst) return nullptr;
    if (width == 0 || height == 0 || width > sizeLimit / 4 || height > sizeLimit) return nullptr;
    if (bytesPerRow == 0) bytesPerRow = 4 * width;
    if (bytesPerRow < 4 * width || bytesPerRow % 4 != 0 || bytesPerRow > sizeLimit) return nullptr;
    if (bytesPerRow > sizeLimit / height) return nullptr;
    if (reinterpret_cast<uintptr_t>(data) % 4 != 0) return nullptr;

    auto* context = new (std::nothrow) CGContext;
    if (context == nullptr) return nullptr;
    context->width = width;
    context->height = height;
    context->bytesPerRow = bytesPerRow;
    context->opaque = alpha == kCGImageAlphaNoneSkipFirst;
    context->ownsData = data == nullptr;
    // calloc: large bitmaps get zero pages from the system without touching them.
    context->data = static_cast<uint8_t*>(data ? data : std::calloc(height, bytesPerRow));
    if (context->data == nullptr) {
        delete context;
        return nullptr;
    }
    context->target = pixman_image_create_bits(PIXMAN_a8r8g8b8, static_cast<int>(width), static_cast<int>(height),
                                               reinterpret_cast<uint32_t*>(context->data),
                                               static_cast<int>(bytesPerRow));
    if (context->target == nullptr) {
        delete context;
        return nullptr;
    }
    if (context->opaque && context->ownsData)
        cgMakeOpaque(context, {0, 0, static_cast<int>(width), static_cast<int>(height)});
    return context;
}

void* CGBitmapContextGetData(CGContextRef context) { return context ? context->data : nullptr; }
size_t CGBitmapContextGetWidth(CGContextRef context) { return context ? context->width : 0; }
size_t CGBitmapContextGetHeight(CGContextRef context) { return context ? context->height : 0; }
size_t CGBitmapContextGetBytesPerRow(CGContextRef context) { return context ? context->bytesPerRow : 0; }
size_t CGBitmapContextGetBitsPerComponent(CGContextRef context) { return context ? 8 : 0; }
size_t CGBitmapContextGetBitsPerPixel(CGContextRef context) { return context ? 32 : 0; }

CGBitmapInfo CGBitmapContextGetBitmapInfo(CGContextRef context) {
    if (context == nullptr) return 0;
    return (context->opaque ? kCGImageAlphaNoneSkipFirst : kCGImageAlphaPremultipliedFirst) |
           kCGBitmapByteOrder32Little;
}

CGImageRef CGBitmapContextCreateImage(CGContextRef context) {
    if (context == nullptr) return nullptr;
    return CGImageCreateWithBGRAData(context->width, context->height, context->bytesPerRow, context->data,
                                     context->opaque);
}
