#include "NSBundle.h"

#include "FoundationDevice.h"

Class NSBundle::objcClass() {
    static Class cls = objc_defineClass<NSBundle>("NSBundle", NSObject::objcClass());
    return cls;
}

NSBundle* NSBundle::mainBundle() {
    static NSBundle* bundle = makeObject<NSBundle>().detach();
    return bundle;
}

void device::FoundationDevice::setMainBundleIdentifier(const char* identifier) {
    NSBundle::mainBundle()->identifier_ = identifier ? NSString::stringWithUTF8String(identifier) : nullptr;
}
