#include "UIImage.h"

#include "../CoreGraphics/CGTypeEncoding.h"
#include "UIGraphics.h"

namespace {

id UIImage_imageWithCGImage(CGImageRef image) { return UIImage::imageWithCGImage(image).detach(); }

}  // namespace

Class UIImage::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIImage>("UIImage", NSObject::objcClass());
        objc_addClassMethod<&UIImage_imageWithCGImage>(c, "imageWithCGImage:");
        objc_addInstanceMethod<&UIImage::CGImage>(c, "CGImage");
        objc_addInstanceMethod<&UIImage::size>(c, "size");
        objc_addInstanceMethod<&UIImage::scale>(c, "scale");
        objc_addInstanceMethod<&UIImage::drawInRect_blendMode_alpha>(c, "drawInRect:blendMode:alpha:");
        objc_addInstanceMethod<&UIImage::drawInRect>(c, "drawInRect:");
        return c;
    }();
    return cls;
}

UIImage::~UIImage() { CGImageRelease(image_); }

Strong<UIImage> UIImage::imageWithCGImage(CGImageRef image) { return imageWithCGImage_scale(image, 1.0); }

Strong<UIImage> UIImage::imageWithCGImage_scale(CGImageRef image, CGFloat scale) {
    if (image == nullptr) return nil;
    Strong<UIImage> result = makeObject<UIImage>();
    result->image_ = CGImageRetain(image);
    result->scale_ = scale > 0 ? scale : 1.0;
    return result;
}

CGSize UIImage::size() const {
    return {static_cast<CGFloat>(CGImageGetWidth(image_)) / scale_,
            static_cast<CGFloat>(CGImageGetHeight(image_)) / scale_};
}

void UIImage::drawInRect_blendMode_alpha(CGRect rect, CGBlendMode blendMode, CGFloat alpha) const {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (context == nullptr) return;
    CGContextSaveGState(context);
    CGContextSetBlendMode(context, blendMode);
    CGContextSetAlpha(context, alpha);
    CGContextDrawImage(context, rect, image_);
    CGContextRestoreGState(context);
}

void UIImage::drawInRect(CGRect rect) const { drawInRect_blendMode_alpha(rect, kCGBlendModeNormal, 1.0); }
