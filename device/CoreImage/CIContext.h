// CIContext: renders CIImages into CoreGraphics images (libswscale: the picture's own colour
// matrix and range, to premultiplied BGRA). Run-time class "CIContext".
//
// A context may be used from any thread, also from several at once: each thread renders with
// its own converter, kept from one context to the next, so making a context per frame costs no
// set-up.
//
// Run-time methods: +contextWithOptions: ("@24@0:8@16"; the caller owns the result),
// -createCGImage:fromRect: ("^{CGImage=}56@0:8@16{CGRect={CGPoint=dd}{CGSize=dd}}24").
#pragma once

#include "../CoreGraphics/CGImage.h"
#include "../Foundation/NSDictionary.h"

#include "CIImage.h"

class CIContext : public NSObject {
public:
    CIContext() = default;
    static Class objcClass();

    // A context; `options` (nil or any dictionary) are accepted and ignored: there is one way to
    // render on this device.
    static Strong<CIContext> contextWithOptions(NSDictionary* options);

    // Renders `rect` of `image` (in the image's coordinates, y up, whole pixels: the rectangle is
    // widened to whole pixels) into a new opaque image the caller owns, at one image pixel per
    // output pixel. nullptr when `image` is nil, the rectangle misses the image's extent (only the
    // part inside it is rendered), the picture's layout cannot be converted or memory runs out.
    CGImageRef createCGImage_fromRect(CIImage* image, CGRect rect) const;
};
