#include "HMHome.h"

#include "../objc/MethodRegistration.h"
#include "HMRoom.h"
#include "HomeKitDevice.h"

Class HMHome::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMHome>("HMHome", NSObject::objcClass());
        objc_addInstanceMethod<&HMHome::name>(c, "name");
        objc_addInstanceMethod<&HMHome::uniqueIdentifier>(c, "uniqueIdentifier");
        objc_addInstanceMethod<&HMHome::rooms>(c, "rooms");
        objc_addInstanceMethod<&HMHome::accessories>(c, "accessories");
        objc_addInstanceMethod<&HMHome::isPrimary>(c, "isPrimary");
        return c;
    }();
    return cls;
}

namespace device {

Strong<HMHome> HomeKitDevice::makeHome(NSUUID* identifier) {
    auto home = makeObject<HMHome>();
    home->identifier_ = identifier;
    home->rooms_ = NSArray::array();
    home->accessories_ = NSArray::array();
    return home;
}

void HomeKitDevice::fillHome(HMHome* home, NSString* name, NSArray* rooms, bool primary) {
    home->name_ = name;
    home->rooms_ = rooms ? Strong<NSArray>(rooms) : NSArray::array();
    home->primary_ = primary;
    std::vector<Strong<NSObject>> accessories;
    for (const auto& room : *home->rooms_) {
        for (const auto& accessory : *static_cast<HMRoom*>(room.get())->accessories()) accessories.push_back(accessory);
    }
    home->accessories_ = NSArray::arrayWithVector(std::move(accessories));
}

}  // namespace device
