// CIImage: a recipe for an image, here always "the picture of this pixel buffer". Nothing is
// computed until a CIContext renders it. Run-time class "CIImage".
//
// Immutable, so it may be shared between threads.
//
// Run-time methods: +imageWithCVPixelBuffer: ("@24@0:8^{__CVBuffer=}16"; the caller owns the
// result, as with every factory on this device), -extent.
#pragma once

#include "../CoreGraphics/CGGeometry.h"
#include "../CoreVideo/CVPixelBuffer.h"
#include "../objc/runtime.h"

class CIImage : public NSObject {
public:
    CIImage() = default;
    ~CIImage() override;
    static Class objcClass();

    // An image of `pixelBuffer` (retained); nil for nullptr.
    static Strong<CIImage> imageWithCVPixelBuffer(CVPixelBufferRef pixelBuffer);

    // The rectangle the image covers: origin (0, 0), the pixel buffer's width and height. Core
    // Image's y axis points up: y = 0 is the bottom row.
    CGRect extent() const;
    // The pixel buffer, lent for as long as the image lives.
    CVPixelBufferRef pixelBuffer() const { return pixelBuffer_; }

private:
    CVPixelBufferRef pixelBuffer_ = nullptr;  // owned
};
