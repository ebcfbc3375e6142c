// The layout of the CoreGraphics objects; private to the files of this folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
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

class CGPicture;

// An image holds its pixels, or a picture that produces them (CGPicture.h): what was drawn to make
// it, kept until its pixels are read in full.
struct CGImage : CFRuntimeBase {
    size_t width = 0;
    size_t height = 0;
    size_t bytesPerRow = 0;
    bool opaque = false;  // every alpha byte is 255
    PixelStorage pixels;  // never written once the image exists; set when made, or empty for a picture

    // A picture image: its picture until its pixels are read in full, then those pixels instead
    // (CGPicture.h reads both). Set when made; changed only under `producedLock`.
    std::shared_ptr<const CGPicture> picture;
    PixelStorage produced;
    std::mutex producedLock;
};

struct CGDrawStep;

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
    // A context that owns its pixels keeps what is drawn until its pixels are read (CGDrawStep.h):
    // the steps drawn since `data` was last brought up to date, at most kCGPendingStepLimit.
    std::vector<CGDrawStep> pending;

    ~CGContext();
};

// Bounds of whole pixels: columns x0..x1-1, rows y0..y1-1.
struct PixelBox {
    int x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

// Makes the context's pixels ready to be read or written: memory of its own (an image made from the
// context may still share the current memory) and cleared, unless `covered` says that the coming
// drawing paints every pixel opaquely, which makes clearing, or copying the shared pixels, a waste. False when memory
// runs out (nothing may be drawn).
bool cgPrepareToWrite(CGContext* context, bool covered = false);
// Whether `box` is the whole of the context.
bool cgCoversContext(const CGContext* context, PixelBox box);
// Draws `step` into the context. Caller's memory is drawn into at once; a context that owns its
// pixels keeps the step until they are read or an image is made of them (kCGPendingStepLimit at
// most: beyond that it draws what it kept), forgetting the steps before one that covers it opaquely.
void cgDraw(CGContext* context, CGDrawStep step);
// Brings the context's pixels up to date: draws the steps it kept into them (one that runs out of
// memory draws nothing). False when the pixels cannot be made ready (the steps are then lost).
bool cgFlush(CGContext* context);
// A new image of what the context holds now, which produces its pixels where they are read: the
// context's pixels before the steps it kept (none while they are still to be cleared), and those
// steps. For a context that owns its pixels.
CGImageRef cgCreateImageOfSteps(CGContext* context);
