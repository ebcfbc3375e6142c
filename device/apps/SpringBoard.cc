#include "SpringBoard.h"

#include "../objc/MethodRegistration.h"
namespace {
void applicationDidFinishLaunching(id self, id application) {
    objc_msgSendSuper<void>(SpringBoard::objcClass(), self, SEL_(applicationDidFinishLaunching:), application);
}
}  // namespace

Class SpringBoard::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<SpringBoard>("SpringBoard", UIApplication::objcClass());
        objc_addInstanceMethod<&applicationDidFinishLaunching>(c, "applicationDidFinishLaunching:");
        return c;
    }();
    return cls;
}
