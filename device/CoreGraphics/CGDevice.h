// The device's own side of CoreGraphics, with no iOS counterpart: making an image from B,G,R,A
// bytes in memory or from a writer that puts its pixels in place, and reading an image's stored
// bytes. iOS makes images through data providers and reads them through a bitmap context; the
// device keeps every image as B,G,R,A bytes and lets its own code at them. Device only; the system
// never sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "CGImage.h"

// A new image holding a copy of `pixels`, `height` rows of `width` premultiplied B,G,R,A pixels,
// each row starting `bytesPerRow` bytes after the one before. With `opaque` the alpha bytes are
// taken to be 255 (and stored so). The caller owns the result. nullptr when a size is zero, the
// rows would overlap (bytesPerRow < 4 * width), the image would take more than 2^31 - 1 bytes,
// `pixels` is nullptr or memory runs out.
CGImageRef CGImageCreateWithBGRAData(size_t width, size_t height, size_t bytesPerRow, const void* pixels, bool opaque);
// A new image whose pixels `write` puts in place, for renderers that produce pixels (CIContext)
// without a copy. `write` gets memory for `height` rows of `width` pixels, `bytesPerRow` apart, and
// returns false when it could not fill it. The caller owns the result; nullptr for the same sizes
// CGImageCreateWithBGRAData refuses, when memory runs out or when `write` returns false. With
// `opaque` the writer promises alpha bytes of 255.
CGImageRef CGImageCreateWithPixelWriter(size_t width, size_t height, bool opaque,
                                        const std::function<bool(uint8_t* pixels, size_t bytesPerRow)>& write);
// A new opaque image of `height` rows of `width` packed B,G,R,x pixels at `pixels`, `bytesPerRow`
// apart (a multiple of 4), read where they are rather than copied (a grabbed screen): the image
// keeps `pixels` alive and reads the fourth bytes as 255. The caller owns the result; nullptr for
// the sizes CGImageCreateWithBGRAData refuses, unaligned pixels, or rows that would overlap.
CGImageRef CGImageCreateWithBGRXPixels(size_t width, size_t height, size_t bytesPerRow,
                                       std::shared_ptr<const uint8_t> pixels);
// A new image of `image` scaled to `width` x `height`, nearest neighbour, as the fast frame
// converter scales a grabbed screen: pixel (i, j) takes the source pixel under
// ((i + 0.5) sx, (j + 0.5) sy), the factors sx = w / width and sy = h / height cut to 16.16 fixed
// point. It keeps `image` and produces only the pixels that are read (when drawn) until its bytes
// are asked for. The caller owns the result; nullptr for nullptr, or a side of either above 32767.
CGImageRef CGImageCreateScaled(CGImageRef image, size_t width, size_t height);
// The premultiplied B,G,R,A bytes, rows CGImageGetBytesPerRow apart, lent for as long as the caller
// holds the image; an image that produces its pixels where they are read (one made from a context,
// scaled, or of pixels kept elsewhere) produces them all on the first call. nullptr for nullptr or
// when memory runs out.
const uint8_t* CGImageGetBGRAData(CGImageRef image);
