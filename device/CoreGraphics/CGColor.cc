#include "CGColor.h"

#include "CGObjects.h"

CGColor::~CGColor() { CGColorSpaceRelease(space); }

CGColorRef CGColorCreate(CGColorSpaceRef space, const CGFloat components[4]) {
    if (space == nullptr || components == nullptr) return nullptr;
    auto* color = new CGColor;
    for (int i = 0; i < 4; ++i) color->components[i] = components[i];
    color->space = CGColorSpaceRetain(space);
    return color;
}

CGColorRef CGColorCreateSRGB(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    const CGFloat components[4] = {red, green, blue, alpha};
    CGColorRef color = CGColorCreate(space, components);
    CGColorSpaceRelease(space);
    return color;
}

CGColorRef CGColorRetain(CGColorRef color) {
    CFRetain(color);
    return color;
}

void CGColorRelease(CGColorRef color) { CFRelease(color); }

const CGFloat* CGColorGetComponents(CGColorRef color) { return color ? color->components : nullptr; }
size_t CGColorGetNumberOfComponents(CGColorRef color) { return color ? 4 : 0; }
CGFloat CGColorGetAlpha(CGColorRef color) { return color ? color->components[3] : 0; }
CGColorSpaceRef CGColorGetColorSpace(CGColorRef color) { return color ? color->space : nullptr; }

bool CGColorEqualToColor(CGColorRef color1, CGColorRef color2) {
    if (color1 == color2) return true;
    if (color1 == nullptr || color2 == nullptr) return false;
    for (int i = 0; i < 4; ++i) {
        if (color1->components[i] != color2->components[i]) return false;
    }
    return true;
}
