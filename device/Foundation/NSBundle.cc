#include "NSBundle.h"

Class NSBundle::objcClass() {
    static Class cls = objc_defineClass<NSBundle>("NSBundle", NSObject::objcClass());
    return cls;
}

NSBundle* NSBundle::mainBundle() {
    static NSBundle* bundle = makeObject<NSBundle>().detach();
    return bundle;
}

void NSBundle::setMainBundleIdentifier(const char* identifier) {
    mainBundle()->identifier_ = identifier ? NSString::stringWithUTF8String(identifier) : nullptr;
}
