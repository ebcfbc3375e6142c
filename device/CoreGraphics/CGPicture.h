// Pictures: what an image that produces its pixels only where they are read holds instead of them.
// Private to CoreGraphics.
//
// An image made from a context that kept what was drawn into it (CGBitmapContextCreateImage), an
// image scaled from another (CGImageCreateScaled) and an image of pixels kept elsewhere
// (CGImageCreateWithBGRXPixels) hold a picture. Drawing such an image produces only the pixels the
// drawing samples; reading its bytes produces them all, once: the image keeps them and lets its
// picture, and the images the picture holds, go. Any pixel produced either way is exactly the pixel
// that producing them all at once gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "CGObjects.h"

class CGPicture {
public:
    virtual ~CGPicture() = default;
    // Writes the pixels of `region` (inside the image) to `out`, rows `stride` bytes apart, as
    // premultiplied B,G,R,A: the bytes the image read in full holds there. False when memory runs out.
    virtual bool render(PixelBox region, uint8_t* out, size_t stride) const = 0;
    // A new pixman image that reads the picture's pixels where they are (the caller unrefs it), or
    // nullptr when they have to be produced first.
    virtual pixman_image_t* wrap() const { return nullptr; }
    // How many pictures deep the picture reaches: 1 when it reads only pixels.
    virtual int depth() const = 0;
};

// What an image has now: its pixels (stored when made, or produced since), or else its picture.
struct CGImageContent {
    PixelStorage pixels;
    std::shared_ptr<const CGPicture> picture;
};
CGImageContent cgImageContent(CGImage& image);

// A new image of `width` x `height` whose pixels `picture` produces; bytesPerRow is what CGImage
// reports and the pixels read in full use. The caller owns it; nullptr when memory runs out.
CGImageRef cgCreatePictureImage(size_t width, size_t height, size_t bytesPerRow, bool opaque,
                                std::shared_ptr<const CGPicture> picture);
// The image's pixels in full, rows bytesPerRow apart: those it stores, or its picture's, produced
// on the first call and kept (the picture is then let go). Empty when memory runs out.
PixelStorage cgImagePixels(CGImage& image);
// Writes the pixels of `region` (inside the image) to `out`, rows `stride` apart, producing only
// those of a picture image that has not been read in full. False when memory runs out.
bool cgReadPixels(CGImage& image, PixelBox region, uint8_t* out, size_t stride);
// 0 for an image that has its pixels, else its picture's depth.
int cgImageDepth(CGImage& image);
// How deep pictures may reach: an image deeper than this, about to be drawn into yet another
// picture, produces its pixels first, so that a chain of snapshots of snapshots holds a few
// images, not every one before it.
inline constexpr int kCGPictureDepthLimit = 4;
