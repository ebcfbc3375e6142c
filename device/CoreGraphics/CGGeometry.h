// Points, sizes and rectangles: plain values, freely copied between threads.
//
// Coordinates everywhere on this device have their origin at the top left with y growing
// downwards, in user space (points) as well as in a bitmap's pixels. UIKit on iOS presents the same
// orientation to its callers, so code written against UIKit draws the same picture here.
#pragma once

#include <cmath>

typedef double CGFloat;

struct CGPoint {
    CGFloat x, y;
};

struct CGSize {
    CGFloat width, height;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
};

inline constexpr CGPoint CGPointZero{0, 0};
inline constexpr CGSize CGSizeZero{0, 0};
inline constexpr CGRect CGRectZero{{0, 0}, {0, 0}};

inline constexpr CGPoint CGPointMake(CGFloat x, CGFloat y) { return {x, y}; }
inline constexpr CGSize CGSizeMake(CGFloat width, CGFloat height) { return {width, height}; }
inline constexpr CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height) {
    return {{x, y}, {width, height}};
}

// The same rectangle with a non-negative width and height (a negative size extends the other way).
inline CGRect CGRectStandardize(CGRect rect) {
    if (rect.size.width < 0) {
        rect.origin.x += rect.size.width;
        rect.size.width = -rect.size.width;
    }
    if (rect.size.height < 0) {
        rect.origin.y += rect.size.height;
        rect.size.height = -rect.size.height;
    }
    return rect;
}

// YES when the rectangle encloses no area: a zero width or height, or a coordinate that is not a
// number. A negative size is not empty (it is standardized first), as in CoreGraphics.
inline bool CGRectIsEmpty(CGRect rect) {
    return !(std::fabs(rect.size.width) > 0) || !(std::fabs(rect.size.height) > 0) || std::isnan(rect.origin.x) ||
           std::isnan(rect.origin.y);
}

inline CGFloat CGRectGetMinX(CGRect rect) { return CGRectStandardize(rect).origin.x; }
inline CGFloat CGRectGetMinY(CGRect rect) { return CGRectStandardize(rect).origin.y; }
inline CGFloat CGRectGetMaxX(CGRect rect) { return CGRectGetMinX(rect) + std::fabs(rect.size.width); }
inline CGFloat CGRectGetMaxY(CGRect rect) { return CGRectGetMinY(rect) + std::fabs(rect.size.height); }
inline CGFloat CGRectGetWidth(CGRect rect) { return std::fabs(rect.size.width); }
inline CGFloat CGRectGetHeight(CGRect rect) { return std::fabs(rect.size.height); }

inline bool CGPointEqualToPoint(CGPoint a, CGPoint b) { return a.x == b.x && a.y == b.y; }
inline bool CGSizeEqualToSize(CGSize a, CGSize b) { return a.width == b.width && a.height == b.height; }
inline bool CGRectEqualToRect(CGRect a, CGRect b) {
    return CGPointEqualToPoint(a.origin, b.origin) && CGSizeEqualToSize(a.size, b.size);
}
