#include "UIScreen.h"

namespace {
id UIScreen_mainScreen(id, SEL) { return UIScreen::mainScreen(); }
CGFloat UIScreen_scale(id self, SEL) { return static_cast<UIScreen*>(self)->scale(); }
CGRect UIScreen_bounds(id self, SEL) { return static_cast<UIScreen*>(self)->bounds(); }
NSInteger UIScreen_maximumFramesPerSecond(id self, SEL) { return static_cast<UIScreen*>(self)->maximumFramesPerSecond(); }
}  // namespace

Class UIScreen::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIScreen>("UIScreen", NSObject::objcClass());
        class_addMethod(object_getClass(c), sel_registerName("mainScreen"), reinterpret_cast<IMP>(UIScreen_mainScreen),
                        "@16@0:8");
        class_addMethod(c, sel_registerName("scale"), reinterpret_cast<IMP>(UIScreen_scale), "d16@0:8");
        class_addMethod(c, sel_registerName("bounds"), reinterpret_cast<IMP>(UIScreen_bounds),
                        "{CGRect={CGPoint=dd}{CGSize=dd}}16@0:8");
        class_addMethod(c, sel_registerName("maximumFramesPerSecond"),
                        reinterpret_cast<IMP>(UIScreen_maximumFramesPerSecond), "q16@0:8");
        return c;
    }();
    return cls;
}

UIScreen* UIScreen::mainScreen() {
    // Never released: the display outlives every caller.
    static UIScreen* screen = makeObject<UIScreen>().detach();
    return screen;
}
