#include "CIImage.h"

#include "../CoreGraphics/CGTypeEncoding.h"

// A pixel buffer is spelt by the name of the opaque struct it points at.
template <>
struct objc_typeEncoding<__CVBuffer> {
    static constexpr const char* value = "{__CVBuffer=}";
};

namespace {

id CIImage_imageWithCVPixelBuffer(CVPixelBufferRef pixelBuffer) {
    return CIImage::imageWithCVPixelBuffer(pixelBuffer).detach();
}

}  // namespace

Class CIImage::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<CIImage>("CIImage", NSObject::objcClass());
        objc_addClassMethod<&CIImage_imageWithCVPixelBuffer>(c, "imageWithCVPixelBuffer:");
        objc_addInstanceMethod<&CIImage::extent>(c, "extent");
        return c;
    }();
    return cls;
}

CIImage::~CIImage() { CVPixelBufferRelease(pixelBuffer_); }

Strong<CIImage> CIImage::imageWithCVPixelBuffer(CVPixelBufferRef pixelBuffer) {
    if (pixelBuffer == nullptr) return nil;
    Strong<CIImage> image = makeObject<CIImage>();
    image->pixelBuffer_ = CVPixelBufferRetain(pixelBuffer);
    return image;
}

CGRect CIImage::extent() const {
    return CGRectMake(0, 0, static_cast<CGFloat>(CVPixelBufferGetWidth(pixelBuffer_)),
                      static_cast<CGFloat>(CVPixelBufferGetHeight(pixelBuffer_)));
}
