#include "CGImage.h"

#include <cstring>
#include <limits>
#include <new>

#include "CGDevice.h"
#include "CGObjects.h"
#include "CGPicture.h"

CGImageRef CGImageCreateWithBGRAData(size_t width, size_t height, size_t bytesPerRow, const void* pixels, bool opaque) {
    if (pixels == nullptr || bytesPerRow / 4 < width) return nullptr;
    auto* from = static_cast<const uint8_t*>(pixels);
    return CGImageCreateWithPixelWriter(width, height, opaque, [&](uint8_t* to, size_t rowBytes) {
        for (size_t row = 0; row < height; ++row, to += rowBytes) {
            std::memcpy(to, from + row * bytesPerRow, rowBytes);
            if (opaque) {
                auto* words = reinterpret_cast<uint32_t*>(to);
                for (size_t x = 0; x < width; ++x) words[x] |= 0xff000000u;
            }
        }
        return true;
    });
}

CGImageRef CGImageCreateWithPixelWriter(size_t width, size_t height, bool opaque,
                                        const std::function<bool(uint8_t*, size_t)>& write) {
    if (width == 0 || height == 0 || !write) return nullptr;
    constexpr size_t limit = std::numeric_limits<int32_t>::max();
    if (width > limit / 4 || height > limit || 4 * width > limit / height) return nullptr;
    const size_t rowBytes = 4 * width;
    auto* image = new (std::nothrow) CGImage;
    if (image == nullptr) return nullptr;
    image->pixels = cgAllocatePixels(rowBytes * height);
    if (!image->pixels || !write(image->pixels.get(), rowBytes)) {
        delete image;
        return nullptr;
    }
    image->width = width;
    image->height = height;
    image->bytesPerRow = rowBytes;
    image->opaque = opaque;
    return image;
}

CGImageRef CGImageRetain(CGImageRef image) {
    CFRetain(image);
    return image;
}

void CGImageRelease(CGImageRef image) { CFRelease(image); }

size_t CGImageGetWidth(CGImageRef image) { return image ? image->width : 0; }
size_t CGImageGetHeight(CGImageRef image) { return image ? image->height : 0; }
size_t CGImageGetBytesPerRow(CGImageRef image) { return image ? image->bytesPerRow : 0; }

CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef image) {
    if (image == nullptr) return kCGImageAlphaNone;
    return image->opaque ? kCGImageAlphaNoneSkipFirst : kCGImageAlphaPremultipliedFirst;
}

const uint8_t* CGImageGetBGRAData(CGImageRef image) { return image ? cgImagePixels(*image).get() : nullptr; }
