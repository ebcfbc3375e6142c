#include "UIResponder.h"

#include "../objc/MethodRegistration.h"
namespace {
// The base classes do nothing on these calls; subclasses override them.
void doNothingWithObject(id, id) {}
void doNothingWithBool(id, BOOL) {}
}  // namespace

Class UIResponder::objcClass() {
    static Class cls = objc_defineClass<UIResponder>("UIResponder", NSObject::objcClass());
    return cls;
}

Class UIApplication::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIApplication>("UIApplication", UIResponder::objcClass());
        objc_addInstanceMethod<&doNothingWithObject>(c, "applicationDidFinishLaunching:");
        return c;
    }();
    return cls;
}

Class UIViewController::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIViewController>("UIViewController", UIResponder::objcClass());
        for (const char* name : {"viewWillAppear:", "viewDidAppear:", "viewWillDisappear:", "viewDidDisappear:"})
            objc_addInstanceMethod<&doNothingWithBool>(c, name);
        return c;
    }();
    return cls;
}
