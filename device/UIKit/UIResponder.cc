#include "UIResponder.h"

namespace {
// The base classes do nothing on these calls; subclasses override them.
void doNothingWithObject(id, SEL, id) {}
void doNothingWithBool(id, SEL, BOOL) {}
}  // namespace

Class UIResponder::objcClass() {
    static Class cls = objc_defineClass<UIResponder>("UIResponder", NSObject::objcClass());
    return cls;
}

Class UIApplication::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIApplication>("UIApplication", UIResponder::objcClass());
        class_addMethod(c, sel_registerName("applicationDidFinishLaunching:"),
                        reinterpret_cast<IMP>(doNothingWithObject), "v24@0:8@16");
        return c;
    }();
    return cls;
}

Class UIViewController::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIViewController>("UIViewController", UIResponder::objcClass());
        for (const char* name : {"viewWillAppear:", "viewDidAppear:", "viewWillDisappear:", "viewDidDisappear:"})
            class_addMethod(c, sel_registerName(name), reinterpret_cast<IMP>(doNothingWithBool), "v20@0:8B16");
        return c;
    }();
    return cls;
}
