#include "CIImage.h"

namespace {

id CIImage_imageWithCVPixelBuffer(id, SEL, CVPixelBufferRef pixelBuffer) {
    return CIImage::imageWithCVPixelBuffer(pixelBuffer).detach();
}
CGRect CIImage_extent(id self, SEL) { return static_cast<CIImage*>(self)->extent(); }

}  // namespace

Class CIImage::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<CIImage>("CIImage", NSObject::objcClass());
        class_addMethod(object_getClass(c), sel_registerName("imageWithCVPixelBuffer:"),
                        reinterpret_cast<IMP>(CIImage_imageWithCVPixelBuffer), "@24@0:8^{__CVBuffer=}16");
        class_addMethod(c, sel_registerName("extent"), reinterpret_cast<IMP>(CIImage_extent),
                        "{CGRect={CGPoint=dd}{CGSize=dd}}16@0:8");
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
