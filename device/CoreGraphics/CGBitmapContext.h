// Bitmap contexts: drawing into memory. The device supports one pixel format, the one iOS uses for
// its screens and image contexts: 8 bits per component, 32 bits per pixel, premultiplied alpha,
// stored in memory as B, G, R, A (kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little), or
// the same without alpha (kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder32Little), whose alpha
// byte is always 255.
//
// A context that allocated its pixels keeps what is drawn into it until its pixels are read
// (CGBitmapContextGetData) and an image made from it keeps it too, producing only the pixels that
// are read (CGPicture.h); what is read is exactly what drawing at once would have given. A context
// drawing into the caller's memory draws at once.
//
// Threads: as any CGContext (CGContext.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "CGColorSpace.h"
#include "CGContext.h"
#include "CGImage.h"

// A new bitmap context drawing into `data`, `height` rows of `width` pixels, `bytesPerRow` apart;
// the caller owns the context. With `data` nullptr the context allocates the pixels itself,
// cleared (all bytes zero; alpha bytes 255 without alpha), and frees them with the context; with
// caller's `data` (4-byte aligned, kept alive by the caller until the context is released) the
// bytes are left as they are. `bytesPerRow` 0 means 4 * width; otherwise it must be a multiple of
// 4 and at least 4 * width. nullptr for any other bits per component, pixel format or byte order,
// a nullptr colour space, zero sizes, more than 2^31 - 1 bytes in all (pixman's limit), unaligned
// data, or when memory runs out.
CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent, size_t bytesPerRow,
                                   CGColorSpaceRef space, uint32_t bitmapInfo);

// The pixel bytes, lent for the life of the context; nullptr for nullptr.
void* CGBitmapContextGetData(CGContextRef context);
// 0 for nullptr.
size_t CGBitmapContextGetWidth(CGContextRef context);
size_t CGBitmapContextGetHeight(CGContextRef context);
size_t CGBitmapContextGetBytesPerRow(CGContextRef context);
size_t CGBitmapContextGetBitsPerComponent(CGContextRef context);
size_t CGBitmapContextGetBitsPerPixel(CGContextRef context);
CGBitmapInfo CGBitmapContextGetBitmapInfo(CGContextRef context);

// A new image holding a copy of the context's pixels now (later drawing does not change it); the
// caller owns it. nullptr for nullptr or when memory runs out.
CGImageRef CGBitmapContextCreateImage(CGContextRef context);
