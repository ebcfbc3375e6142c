#include "CGBitmapContext.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "CGDevice.h"
#include "CGDrawStep.h"
#include "CGObjects.h"

namespace {
constexpr size_t sizeLimit = std::numeric_limits<int32_t>::max();  // pixman counts in int
}  // namespace

CGContext::~CGContext() {
    if (target) pixman_image_unref(target);
}

PixelStorage cgAllocatePixels(size_t bytes) {
    auto* memory = static_cast<uint8_t*>(std::malloc(bytes));
    if (memory == nullptr) return nullptr;
    return PixelStorage(memory, [](uint8_t* pixels) { std::free(pixels); });
}

namespace {

pixman_image_t* wrap(CGContext* context) {
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, static_cast<int>(context->width),
                                    static_cast<int>(context->height), reinterpret_cast<uint32_t*>(context->data),
                                    static_cast<int>(context->bytesPerRow));
}

}  // namespace

bool cgCoversContext(const CGContext* context, PixelBox box) {
    return box.x0 <= 0 && box.y0 <= 0 && box.x1 >= static_cast<int>(context->width) &&
           box.y1 >= static_cast<int>(context->height);
}

namespace {

void clear(CGContext* context) {
    auto* pixels = reinterpret_cast<uint32_t*>(context->data);
    std::fill(pixels, pixels + context->height * context->bytesPerRow / 4, context->opaque ? 0xff000000u : 0u);
}

}  // namespace

bool cgPrepareToWrite(CGContext* context, bool covered) {
    if (context->clearPending) {
        // Memory the context has not shared yet: clearing needs no copy.
        if (!covered) clear(context);
        context->clearPending = false;
        return true;
    }
    if (!context->ownsData || context->storage.use_count() <= 1) return true;
    size_t bytes = context->bytesPerRow * context->height;
    PixelStorage copy = cgAllocatePixels(bytes);
    if (!copy) return false;
    if (!covered) std::memcpy(copy.get(), context->data, bytes);
    uint8_t* previous = context->data;
    context->data = copy.get();
    pixman_image_t* target = wrap(context);
    if (target == nullptr) {
        context->data = previous;
        return false;
    }
    pixman_image_unref(context->target);
    context->target = target;
    context->storage = std::move(copy);
    return true;
}

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent, size_t bytesPerRow,
                                   CGColorSpaceRef space, uint32_t bitmapInfo) {
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
    if (data == nullptr) {
        context->storage = cgAllocatePixels(height * bytesPerRow);
        if (!context->storage) {
            delete context;
            return nullptr;
        }
        // Cleared (transparent black, or opaque black without alpha) when first drawn into or read:
        // a snapshot whose first drawing covers it all never pays for clearing.
        context->clearPending = true;
    }
    context->data = data ? static_cast<uint8_t*>(data) : context->storage.get();
    context->target = wrap(context);
    if (context->target == nullptr) {
        delete context;
        return nullptr;
    }
    return context;
}

void* CGBitmapContextGetData(CGContextRef context) {
    // The caller may write through the pointer, so an image made earlier must not see it.
    if (context == nullptr || !cgFlush(context) || !cgPrepareToWrite(context)) return nullptr;
    return context->data;
}
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
    // What was drawn, kept (or nothing, on pixels still to be cleared): the image produces its
    // pixels where they are read.
    if (!context->pending.empty() || context->clearPending) return cgCreateImageOfSteps(context);
    if (!cgPrepareToWrite(context)) return nullptr;
    // Memory the caller gave the context may change under the image: copy it.
    if (!context->ownsData)
        return CGImageCreateWithBGRAData(context->width, context->height, context->bytesPerRow, context->data,
                                         context->opaque);
    // Shared until the context draws again, as the image context's snapshot is, then released.
    auto* image = new (std::nothrow) CGImage;
    if (image == nullptr) return nullptr;
    image->width = context->width;
    image->height = context->height;
    image->bytesPerRow = context->bytesPerRow;
    image->opaque = context->opaque;
    image->pixels = context->storage;
    return image;
}
