// UIImage: an immutable image, a CGImage with a scale (pixels per point). Run-time class "UIImage".
//
// An image never changes, so it may be shared between threads; drawing it uses the calling
// thread's current context.
//
// Run-time methods: +imageWithCGImage: ("@24@0:8^{CGImage=}16"; gives a reference the caller owns,
// as every factory on this device does: there are no autorelease pools), -CGImage, -size, -scale,
// -drawInRect:blendMode:alpha:, -drawInRect:.
#pragma once

#include "../CoreGraphics/CoreGraphics.h"
#include "../objc/runtime.h"

class UIImage : public NSObject {
public:
    UIImage() = default;
    ~UIImage() override;
    static Class objcClass();

    // An image of `image` (retained) at scale 1.0; nil when `image` is nullptr.
    static Strong<UIImage> imageWithCGImage(CGImageRef image);
    // The same at `scale` pixels per point (a scale that is not positive counts as 1.0). The device's
    // form of imageWithCGImage:scale:orientation: for upright images, which are all it makes.
    static Strong<UIImage> imageWithCGImage_scale(CGImageRef image, CGFloat scale);

    // The bitmap, lent for as long as the caller holds the image.
    CGImageRef CGImage() const { return image_; }
    // The size in points: pixels divided by the scale.
    CGSize size() const;
    CGFloat scale() const { return scale_; }

    // Draws the whole image scaled into `rect` (points) of the calling thread's current context,
    // with `blendMode` and `alpha` and the context's interpolation quality. With no current
    // context nothing happens.
    void drawInRect_blendMode_alpha(CGRect rect, CGBlendMode blendMode, CGFloat alpha) const;
    // drawInRect_blendMode_alpha(rect, kCGBlendModeNormal, 1.0).
    void drawInRect(CGRect rect) const;

private:
    CGImageRef image_ = nullptr;  // owned
    CGFloat scale_ = 1.0;
};
