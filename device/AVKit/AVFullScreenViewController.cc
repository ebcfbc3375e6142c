#include "AVFullScreenViewController.h"

namespace {
Class playerClass();

// The player's own appearance methods hand on to UIViewController, as the real one does.
void viewDidAppear(id self, SEL cmd, BOOL animated) { objc_msgSendSuper<void>(playerClass(), self, cmd, animated); }
void viewWillDisappear(id self, SEL cmd, BOOL animated) { objc_msgSendSuper<void>(playerClass(), self, cmd, animated); }
void viewDidDisappear(id self, SEL cmd, BOOL animated) { objc_msgSendSuper<void>(playerClass(), self, cmd, animated); }

Class playerClass() { return AVFullScreenViewController::objcClass(); }
}  // namespace

Class AVFullScreenViewController::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<AVFullScreenViewController>("AVFullScreenViewController",
                                                               UIViewController::objcClass());
        class_addMethod(c, sel_registerName("viewDidAppear:"), reinterpret_cast<IMP>(viewDidAppear), "v20@0:8B16");
        class_addMethod(c, sel_registerName("viewWillDisappear:"), reinterpret_cast<IMP>(viewWillDisappear),
                        "v20@0:8B16");
        class_addMethod(c, sel_registerName("viewDidDisappear:"), reinterpret_cast<IMP>(viewDidDisappear),
                        "v20@0:8B16");
        return c;
    }();
    return cls;
}
