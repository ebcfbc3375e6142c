#include "HMAccessory.h"

#include "HMRoom.h"
#include "HMService.h"
#include "HomeKitDevice.h"

namespace {

id Accessory_name(id self, SEL) { return static_cast<HMAccessory*>(self)->name(); }
id Accessory_uniqueIdentifier(id self, SEL) { return static_cast<HMAccessory*>(self)->uniqueIdentifier(); }
id Accessory_services(id self, SEL) { return static_cast<HMAccessory*>(self)->services(); }
id Accessory_room(id self, SEL) { return static_cast<HMAccessory*>(self)->room(); }
BOOL Accessory_isReachable(id self, SEL) { return static_cast<HMAccessory*>(self)->isReachable(); }

}  // namespace

Class HMAccessory::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMAccessory>("HMAccessory", NSObject::objcClass());
        class_addMethod(c, sel_registerName("name"), reinterpret_cast<IMP>(Accessory_name), "@16@0:8");
        class_addMethod(c, sel_registerName("uniqueIdentifier"), reinterpret_cast<IMP>(Accessory_uniqueIdentifier), "@16@0:8");
        class_addMethod(c, sel_registerName("services"), reinterpret_cast<IMP>(Accessory_services), "@16@0:8");
        class_addMethod(c, sel_registerName("room"), reinterpret_cast<IMP>(Accessory_room), "@16@0:8");
        class_addMethod(c, sel_registerName("isReachable"), reinterpret_cast<IMP>(Accessory_isReachable), "B16@0:8");
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
