#include "Block.h"

Class objc_blockClass() {
    static Class cls = objc_defineClass<NSObject>("NSBlock", NSObject::objcClass());
    return cls;
}
