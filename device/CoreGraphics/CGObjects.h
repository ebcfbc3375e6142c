// The layout of the CoreGraphics objects; private to the files of this folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <pixman.h>

#include "../CoreFoundation/CFRuntime.h"

#include "CGAffineTransform.h"
#include "CGContext.h"

// Every CoreGraphics object is a Core Foundation object, as on iOS: CFRetain and CFRelease work on
// it, and it starts with one reference, owned by whoever created it.
struct CGColorSpace : CFRuntimeBase {};

struct CGColor : CFRuntimeBase {
    CGFloat components[4] = {0, 0, 0, 0};
    CGColorSpaceRef space = nullptr;  // owned
    ~CGColor();
};

// Pixel memory from malloc; shared by a context and the images made from it until the context
// draws again (copy on write).
using PixelStorage = std::shared_ptr<uint8_t>;
// `bytes` of uninitialised pixel memory; empty when memory runs out.
PixelStorage cgAllocatePixels(size_t bytes);

struct CGImage : CFRuntimeBase {
    size_t width = 0;
    size_t height = 0;
    size_t bytesPerRow = 0;
    bool opaque = false;  // every alpha byte is 255
    PixelStorage pixels;  // never written once the image exists
};

struct CGGState {
    CGAffineTransform ctm = CGAffineTransformIdentity;
    CGInterpolationQuality interpolation = kCGInterpolationDefault;
    CGBlendMode blendMode = kCGBlendModeNormal;
    CGFloat alpha = 1;
    CGFloat fill[4] = {0, 0, 0, 1};
};

struct CGContext : CFRuntimeBase {
    size_t width = 0;
    size_t height = 0;
    size_t bytesPerRow = 0;
    bool opaque = false;  // no alpha: every alpha byte stays 255
    uint8_t* data = nullptr;
    bool ownsData = false;
    PixelStorage storage;              // holds `data` when the context owns it
    bool clearPending = false;         // `data` is still to be cleared; done by the first draw that needs it
    pixman_image_t* target = nullptr;  // wraps `data`
    CGGState state;
    std::vector<CGGState> savedStates;

    ~CGContext();
};

// Bounds of whole pixels: columns x0..x1-1, rows y0..y1-1.
struct PixelBox {
    int x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

// Sets the alpha bytes inside `box` to 255; how a context without alpha keeps its promise.
void cgMakeOpaque(CGContext* context, PixelBox box);
// Makes the context's pixels ready to be read or written: memory of its own (an image made from the
// context may still share the current memory) and cleared, unless `covered` says that the coming
// drawing paints every pixel opaquely, which makes clearing first a waste. False when memory runs
// out (nothing may be drawn).
bool cgPrepareToWrite(CGContext* context, bool covered = false);
// Whether `box` is the whole of the context.
bool cgCoversContext(const CGContext* context, PixelBox box);
