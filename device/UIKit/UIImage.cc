#include "UIImage.h"

#include "UIGraphics.h"

namespace {

id UIImage_imageWithCGImage(id, SEL, CGImageRef image) { return UIImage::imageWithCGImage(image).detach(); }
CGImageRef UIImage_CGImage(id self, SEL) { return static_cast<UIImage*>(self)->CGImage(); }
CGSize UIImage_size(id self, SEL) { return static_cast<UIImage*>(self)->size(); }
CGFloat UIImage_scale(id self, SEL) { return static_cast<UIImage*>(self)->scale(); }
void UIImage_drawInRect_blendMode_alpha(id self, SEL, CGRect rect, CGBlendMode mode, CGFloat alpha) {
    static_cast<UIImage*>(self)->drawInRect_blendMode_alpha(rect, mode, alpha);
}
void UIImage_drawInRect(id self, SEL, CGRect rect) { static_cast<UIImage*>(self)->drawInRect(rect); }

}  // namespace

Class UIImage::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIImage>("UIImage", NSObject::objcClass());
        class_addMethod(object_getClass(c), sel_registerName("imageWithCGImage:"),
                        reinterpret_cast<IMP>(UIImage_imageWithCGImage), "@24@0:8^{CGImage=}16");
        class_addMethod(c, sel_registerName("CGImage"), reinterpret_cast<IMP>(UIImage_CGImage), "^{CGImage=}16@0:8");
        class_addMethod(c, sel_registerName("size"), reinterpret_cast<IMP>(UIImage_size), "{CGSize=dd}16@0:8");
        class_addMethod(c, sel_registerName("scale"), reinterpret_cast<IMP>(UIImage_scale), "d16@0:8");
        class_addMethod(c, sel_registerName("drawInRect:blendMode:alpha:"),
                        reinterpret_cast<IMP>(UIImage_drawInRect_blendMode_alpha),
                        "v56@0:8{CGRect={CGPoint=dd}{CGSize=dd}}16i48d52");
        class_addMethod(c, sel_registerName("drawInRect:"), reinterpret_cast<IMP>(UIImage_drawInRect),
                        "v48@0:8{CGRect={CGPoint=dd}{CGSize=dd}}16");
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
