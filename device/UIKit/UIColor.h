// UIColor: an RGB colour with alpha. Run-time class "UIColor".
//
// A colour never changes, so it may be shared between threads. Components are kept exactly as
// given, with no clamping, as UIKit's extended-range colours keep them: values below 0 or above 1
// survive a round trip through CGColor and getRed:green:blue:alpha:. Two colours are equal when
// their four components are.
//
// Run-time methods: +colorWithRed:green:blue:alpha: ("@48@0:8d16d24d32d40"; gives a reference the
// caller owns: the device has no autorelease pools), -CGColor, -getRed:green:blue:alpha:,
// -getHue:saturation:brightness:alpha:.
#pragma once

#include "../CoreGraphics/CoreGraphics.h"
#include "../objc/runtime.h"

class UIColor : public NSObject {
public:
    UIColor();
    ~UIColor() override;
    static Class objcClass();

    static Strong<UIColor> colorWithRed_green_blue_alpha(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);

    // The colour as a CGColor with components red, green, blue, alpha; lent, owned by this colour.
    CGColorRef CGColor() const { return color_; }

    // Writes the components to those pointers that are not null; YES (every colour here is RGB).
    BOOL getRed_green_blue_alpha(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const;
    // Writes hue, saturation, brightness and alpha to the pointers that are not null; YES.
    // Computed from the components as they are, as UIKit does for RGB colours:
    //   brightness = max(r, g, b); saturation = (max - min) / max, 0 when max is 0;
    //   hue = the hexcone hue in turns, in [0, 1): red 0, green 1/3, blue 2/3, 0 when max == min.
    // Components outside 0..1 go through the same formulas unclamped: brightness may exceed 1 or be
    // negative; saturation exceeds 1 when a component is negative and max positive, and is
    // negative when max is; hue stays in [0, 1) for finite components. A NaN component gives NaN
    // hue, saturation and brightness.
    BOOL getHue_saturation_brightness_alpha(CGFloat* hue, CGFloat* saturation, CGFloat* brightness,
                                            CGFloat* alpha) const;

    bool isEqual(const NSObject* other) const override;
    size_t hash() const override;
    std::string description() const override;

private:
    CGFloat components_[4] = {0, 0, 0, 0};
    CGColorRef color_ = nullptr;  // owned
};
