// CGContextRef: a drawing destination with its graphics state (transform, interpolation, blend
// mode, alpha, fill colour), saved and restored as a stack. The device's only kind is the bitmap
// context (CGBitmapContext.h).
//
// A context is not thread-safe: one thread at a time draws into it and changes its state. Its
// reference count is atomic, so CGContextRetain/CGContextRelease may be called from any thread.
//
// Drawing follows CoreGraphics with two simplifications. The current transform is only ever a
// scale and a translation (no call here rotates), so a rectangle stays a rectangle. Edges are not
// anti-aliased: a pixel belongs to a shape when its centre lies inside it, so a rectangle on whole
// pixels is drawn exactly and a copy touches no pixel outside it.
#pragma once

#include <cstdint>

#include "CGAffineTransform.h"
#include "CGColor.h"
#include "CGGeometry.h"
#include "CGImage.h"

typedef struct CGContext* CGContextRef;

// How scaled images are sampled (Apple's values). kCGInterpolationNone takes the nearest source
// pixel; kCGInterpolationLow is bilinear; the others are bilinear for moderate scales and average
// the covered area when an image is shrunk by more than half.
typedef int32_t CGInterpolationQuality;
inline constexpr CGInterpolationQuality kCGInterpolationDefault = 0;
inline constexpr CGInterpolationQuality kCGInterpolationNone = 1;
inline constexpr CGInterpolationQuality kCGInterpolationLow = 2;
inline constexpr CGInterpolationQuality kCGInterpolationHigh = 3;
inline constexpr CGInterpolationQuality kCGInterpolationMedium = 4;

// How drawing meets what is already there (Apple's values). The device draws kCGBlendModeNormal
// (source over destination) and kCGBlendModeCopy (source replaces destination, alpha included);
// every other mode draws as kCGBlendModeNormal.
typedef int32_t CGBlendMode;
inline constexpr CGBlendMode kCGBlendModeNormal = 0;
inline constexpr CGBlendMode kCGBlendModeMultiply = 1;
inline constexpr CGBlendMode kCGBlendModeScreen = 2;
inline constexpr CGBlendMode kCGBlendModeClear = 16;
inline constexpr CGBlendMode kCGBlendModeCopy = 17;
inline constexpr CGBlendMode kCGBlendModeSourceIn = 18;
inline constexpr CGBlendMode kCGBlendModeSourceOut = 19;
inline constexpr CGBlendMode kCGBlendModeSourceAtop = 20;

CGContextRef CGContextRetain(CGContextRef context);
void CGContextRelease(CGContextRef context);

// State changes. A nullptr context is ignored by all of them.
void CGContextSaveGState(CGContextRef context);
// Restores the state saved last; without a saved state, nothing changes.
void CGContextRestoreGState(CGContextRef context);
void CGContextSetInterpolationQuality(CGContextRef context, CGInterpolationQuality quality);
// kCGInterpolationDefault for nullptr.
CGInterpolationQuality CGContextGetInterpolationQuality(CGContextRef context);
void CGContextSetBlendMode(CGContextRef context, CGBlendMode mode);
// The alpha applied to everything drawn, clamped to 0..1 (a NaN counts as 0).
void CGContextSetAlpha(CGContextRef context, CGFloat alpha);
// Scale or move user space: later drawing at (x, y) lands where (sx*x, sy*y), or (x+tx, y+ty),
// would have before.
void CGContextScaleCTM(CGContextRef context, CGFloat sx, CGFloat sy);
void CGContextTranslateCTM(CGContextRef context, CGFloat tx, CGFloat ty);
// The map from user space to the bitmap's pixels; the identity for nullptr.
CGAffineTransform CGContextGetCTM(CGContextRef context);
// The colour later fills use; components are clamped to 0..1 when drawn. nullptr is ignored.
// A new context fills with opaque black.
void CGContextSetFillColorWithColor(CGContextRef context, CGColorRef color);

// Fills `rect` (user space) with the fill colour, blend mode and alpha.
void CGContextFillRect(CGContextRef context, CGRect rect);
// Draws the whole of `image` scaled into `rect` (user space), with the context's interpolation,
// blend mode and alpha. A nullptr image or an empty rectangle draws nothing. Images more than
// 32767 pixels wide or high are beyond the drawing engine and draw nothing.
void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef image);
