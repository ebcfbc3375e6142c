// CGColorRef: an RGB colour with alpha, four CGFloat components in the order red, green, blue,
// alpha, kept exactly as given (values outside 0..1 are kept too; drawing clamps them).
//
// A colour is immutable and may be shared between threads; its reference count is atomic.
#pragma once

#include <cstddef>

#include "CGColorSpace.h"
#include "CGGeometry.h"

typedef struct CGColor* CGColorRef;

// A new colour in `space` from `components[0..3]` (red, green, blue, alpha); the caller owns it.
// nullptr when `space` or `components` is nullptr.
CGColorRef CGColorCreate(CGColorSpaceRef space, const CGFloat components[4]);
// A new RGB colour made from four values (the device's one RGB space); the caller owns it.
CGColorRef CGColorCreateSRGB(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
CGColorRef CGColorRetain(CGColorRef color);
void CGColorRelease(CGColorRef color);

// The four components, lent: valid as long as the caller holds `color`. nullptr for nullptr.
const CGFloat* CGColorGetComponents(CGColorRef color);
// 4 (red, green, blue, alpha); 0 for nullptr.
size_t CGColorGetNumberOfComponents(CGColorRef color);
// The alpha component; 0 for nullptr.
CGFloat CGColorGetAlpha(CGColorRef color);
// The colour space, lent; nullptr for nullptr.
CGColorSpaceRef CGColorGetColorSpace(CGColorRef color);
// YES when both are nullptr, or both have equal components.
bool CGColorEqualToColor(CGColorRef color1, CGColorRef color2);
