#include "UIColor.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>

#include "../CoreGraphics/CGTypeEncoding.h"

namespace {

id UIColor_colorWithRed_green_blue_alpha(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    return UIColor::colorWithRed_green_blue_alpha(red, green, blue, alpha).detach();
}

void store(CGFloat* to, CGFloat value) {
    if (to) *to = value;
}

}  // namespace

Class UIColor::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIColor>("UIColor", NSObject::objcClass());
        objc_addClassMethod<&UIColor_colorWithRed_green_blue_alpha>(c, "colorWithRed:green:blue:alpha:");
        objc_addInstanceMethod<&UIColor::CGColor>(c, "CGColor");
        objc_addInstanceMethod<&UIColor::getRed_green_blue_alpha>(c, "getRed:green:blue:alpha:");
        objc_addInstanceMethod<&UIColor::getHue_saturation_brightness_alpha>(c, "getHue:saturation:brightness:alpha:");
        return c;
    }();
    return cls;
}

UIColor::UIColor() : color_(CGColorCreateSRGB(0, 0, 0, 0)) {}

UIColor::~UIColor() { CGColorRelease(color_); }

Strong<UIColor> UIColor::colorWithRed_green_blue_alpha(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    Strong<UIColor> color = makeObject<UIColor>();
    color->components_[0] = red;
    color->components_[1] = green;
    color->components_[2] = blue;
    color->components_[3] = alpha;
    CGColorRelease(color->color_);
    color->color_ = CGColorCreateSRGB(red, green, blue, alpha);
    return color;
}

BOOL UIColor::getRed_green_blue_alpha(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const {
    store(red, components_[0]);
    store(green, components_[1]);
    store(blue, components_[2]);
    store(alpha, components_[3]);
    return YES;
}

BOOL UIColor::getHue_saturation_brightness_alpha(CGFloat* hue, CGFloat* saturation, CGFloat* brightness,
                                                 CGFloat* alpha) const {
    const CGFloat r = components_[0], g = components_[1], b = components_[2];
    // std::max/min would silently drop a NaN; a NaN must show in every result.
    bool hasNaN = r != r || g != g || b != b;
    const CGFloat nan = std::numeric_limits<CGFloat>::quiet_NaN();
    const CGFloat max = hasNaN ? nan : std::max({r, g, b});
    const CGFloat min = hasNaN ? nan : std::min({r, g, b});
    const CGFloat delta = max - min;
    CGFloat h = 0;
    if (hasNaN) {
        h = nan;
    } else if (delta != 0) {
        if (max == r)
            h = (g - b) / delta;
        else if (max == g)
            h = 2 + (b - r) / delta;
        else
            h = 4 + (r - g) / delta;
        h /= 6;
        if (h < 0) h += 1;
        // A hue a hair below 0 wraps to a value that rounds to 1.0, which is red again.
        if (h >= 1) h = 0;
    }
    store(hue, h);
    store(saturation, hasNaN ? nan : (max != 0 ? delta / max : 0));
    store(brightness, max);
    store(alpha, components_[3]);
    return YES;
}

bool UIColor::isEqual(const NSObject* other) const {
    if (other == this) return true;
    auto* color = dynamic_cast<const UIColor*>(other);
    return color && std::equal(components_, components_ + 4, color->components_);
}

size_t UIColor::hash() const {
    size_t hash = 0;
    for (CGFloat component : components_) {
        // +0.0 and -0.0 are equal, so they must hash alike.
        hash = hash * 31 + std::hash<CGFloat>{}(component == 0 ? 0.0 : component);
    }
    return hash;
}

std::string UIColor::description() const {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "UIExtendedSRGBColorSpace %g %g %g %g", components_[0], components_[1],
                  components_[2], components_[3]);
    return buffer;
}
