#include "SpringBoard.h"

namespace {
void applicationDidFinishLaunching(id self, SEL cmd, id application) {
    objc_msgSendSuper<void>(SpringBoard::objcClass(), self, cmd, application);
}
}  // namespace

Class SpringBoard::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<SpringBoard>("SpringBoard", UIApplication::objcClass());
        class_addMethod(c, sel_registerName("applicationDidFinishLaunching:"),
                        reinterpret_cast<IMP>(applicationDidFinishLaunching), "v24@0:8@16");
        return c;
    }();
    return cls;
}
