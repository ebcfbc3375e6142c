#include "CALayer.h"

Class CALayer::objcClass() {
    static Class cls = objc_defineClass<CALayer>("CALayer", NSObject::objcClass());
    return cls;
}
