// CGImageRef: an immutable bitmap of 8-bit premultiplied pixels, stored in memory as blue, green,
// red, alpha (each pixel a little-endian 32-bit ARGB word).
//
// An image never changes once made, so it may be shared between threads and drawn by several at
// once. Its reference count is atomic.
#pragma once

#include <cstddef>
#include <cstdint>

typedef struct CGImage* CGImageRef;

// How a bitmap holds alpha (the low five bits of a CGBitmapInfo); the values are Apple's. The
// device supports kCGImageAlphaPremultipliedFirst and kCGImageAlphaNoneSkipFirst.
typedef uint32_t CGImageAlphaInfo;
inline constexpr CGImageAlphaInfo kCGImageAlphaNone = 0;
inline constexpr CGImageAlphaInfo kCGImageAlphaPremultipliedLast = 1;
inline constexpr CGImageAlphaInfo kCGImageAlphaPremultipliedFirst = 2;
inline constexpr CGImageAlphaInfo kCGImageAlphaLast = 3;
inline constexpr CGImageAlphaInfo kCGImageAlphaFirst = 4;
inline constexpr CGImageAlphaInfo kCGImageAlphaNoneSkipLast = 5;
inline constexpr CGImageAlphaInfo kCGImageAlphaNoneSkipFirst = 6;
inline constexpr CGImageAlphaInfo kCGImageAlphaOnly = 7;

// A bitmap's layout: alpha info, float components and byte order, or-ed together.
typedef uint32_t CGBitmapInfo;
inline constexpr CGBitmapInfo kCGBitmapAlphaInfoMask = 0x1F;
inline constexpr CGBitmapInfo kCGBitmapFloatComponents = 1u << 8;
inline constexpr CGBitmapInfo kCGBitmapByteOrderMask = 0x7000;
inline constexpr CGBitmapInfo kCGBitmapByteOrderDefault = 0u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder16Little = 1u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Little = 2u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder16Big = 3u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Big = 4u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Host = kCGBitmapByteOrder32Little;

CGImageRef CGImageRetain(CGImageRef image);
void CGImageRelease(CGImageRef image);

// Sizes in pixels; 0 for nullptr.
size_t CGImageGetWidth(CGImageRef image);
size_t CGImageGetHeight(CGImageRef image);
// The distance between rows of the stored pixels: always 4 * width on this device. 0 for nullptr.
size_t CGImageGetBytesPerRow(CGImageRef image);
// kCGImageAlphaNoneSkipFirst for an opaque image, else kCGImageAlphaPremultipliedFirst;
// kCGImageAlphaNone for nullptr.
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef image);
