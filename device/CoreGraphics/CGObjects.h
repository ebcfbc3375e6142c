// The layout of the CoreGraphics objects; private to the files of this folder.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <pixman.h>

#include "CGAffineTransform.h"
#include "CGContext.h"

// Every CoreGraphics object starts with one reference, owned by whoever created it.
struct CGObject {
    std::atomic<intptr_t> references{1};

    void retain() { references.fetch_add(1, std::memory_order_relaxed); }
    // YES when this was the last reference.
    bool release() { return references.fetch_sub(1, std::memory_order_acq_rel) == 1; }
};

struct CGColorSpace : CGObject {};

struct CGColor : CGObject {
    CGFloat components[4] = {0, 0, 0, 0};
    CGColorSpaceRef space = nullptr;  // owned
    ~CGColor();
};

struct CGImage : CGObject {
    size_t width = 0;
    size_t height = 0;
    bool opaque = false;
    std::unique_ptr<uint8_t[]> pixels;  // rows of 4 * width bytes
};

struct CGGState {
    CGAffineTransform ctm = CGAffineTransformIdentity;
    CGInterpolationQuality interpolation = kCGInterpolationDefault;
    CGBlendMode blendMode = kCGBlendModeNormal;
    CGFloat alpha = 1;
    CGFloat fill[4] = {0, 0, 0, 1};
};

struct CGContext : CGObject {
    size_t width = 0;
    size_t height = 0;
    size_t bytesPerRow = 0;
    bool opaque = false;  // no alpha: every alpha byte stays 255
    uint8_t* data = nullptr;
    bool ownsData = false;
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
