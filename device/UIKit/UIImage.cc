#include "UIImage.h"

#include "../CoreGraphics/CGTypeEncoding.h"
#include "UIGraphics.h"

namespace {

id UIImage_imageWithCGImage(CGImageRef image) { return UIImage::imageWithCGImage(image).detach(); }
void UIImage_drawInRect_blendMode_alpha(id self, SEL, CGRect rect, CGBlendMode mode, CGFloat alpha) {
    static_cast<UIImage*>(self)->drawInRect_blendMode_alpha(rect, mode, alpha);
}

}  // namespace

Class UIImage::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIImage>("UIImage", NSObject::objcClass());
        objc_addClassMethod<&UIImage_imageWithCGImage>(c, "imageWithCGImage:");
        objc_addInstanceMethod<&UIImage::CGImage>(c, "CGImage");
        objc_addInstanceMethod<&UIImage::size>(c, "size");
        objc_addInstanceMethod<&UIImage::scale>(c, "scale");
        // Still spelt by hand: its total says 56 where the arguments end at 60, as the signature
        // gives it ("v60@0:8{CGRect=...}16i48d52"); the tests that read this string change with it.
        class_addMethod(c, sel_registerName("drawInRect:blendMode:alpha:"),
                        reinterpret_cast<IMP>(UIImage_drawInRect_blendMode_alpha),
                        "v56@0:8{CGRect={CGPoint=dd}{CGSize=dd}}16i48d52");
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
