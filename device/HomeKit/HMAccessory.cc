#include "HMAccessory.h"

#include "../objc/MethodRegistration.h"
#include "HMRoom.h"
#include "HMService.h"
#include "HomeKitDevice.h"

Class HMAccessory::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMAccessory>("HMAccessory", NSObject::objcClass());
        objc_addInstanceMethod<&HMAccessory::name>(c, "name");
        objc_addInstanceMethod<&HMAccessory::uniqueIdentifier>(c, "uniqueIdentifier");
        objc_addInstanceMethod<&HMAccessory::services>(c, "services");
        objc_addInstanceMethod<&HMAccessory::room>(c, "room");
        objc_addInstanceMethod<&HMAccessory::isReachable>(c, "isReachable");
        return c;
    }();
    return cls;
}

HMAccessory::~HMAccessory() {
    if (services_) {
        for (const auto& object : *services_)
            device::HomeKitDevice::setAccessory(static_cast<HMService*>(object.get()), nullptr);
    }
}

namespace device {

Strong<HMAccessory> HomeKitDevice::makeAccessory(NSString* name, NSUUID* identifier, NSArray* services,
                                                 bool reachable) {
    auto accessory = makeObject<HMAccessory>();
    accessory->name_ = name;
    accessory->identifier_ = identifier;
    accessory->services_ = services ? Strong<NSArray>(services) : NSArray::array();
    accessory->reachable_ = reachable;
    for (const auto& object : *accessory->services_) setAccessory(static_cast<HMService*>(object.get()), accessory);
    return accessory;
}

void HomeKitDevice::setRoom(HMAccessory* accessory, HMRoom* room) { accessory->room_.store(room); }

}  // namespace device
