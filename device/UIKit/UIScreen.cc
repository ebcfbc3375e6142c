#include "UIScreen.h"

#include "../CoreGraphics/CGTypeEncoding.h"

Class UIScreen::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIScreen>("UIScreen", NSObject::objcClass());
        objc_addClassMethod<&UIScreen::mainScreen>(c, "mainScreen");
        objc_addInstanceMethod<&UIScreen::scale>(c, "scale");
        objc_addInstanceMethod<&UIScreen::bounds>(c, "bounds");
        objc_addInstanceMethod<&UIScreen::maximumFramesPerSecond>(c, "maximumFramesPerSecond");
        return c;
    }();
    return cls;
}

UIScreen* UIScreen::mainScreen() {
    // Never released: the display outlives every caller.
    static UIScreen* screen = makeObject<UIScreen>().detach();
    return screen;
}
