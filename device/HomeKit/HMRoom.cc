#include "HMRoom.h"

#include "../objc/MethodRegistration.h"
#include "HMAccessory.h"
#include "HomeKitDevice.h"

Class HMRoom::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMRoom>("HMRoom", NSObject::objcClass());
        objc_addInstanceMethod<&HMRoom::name>(c, "name");
        objc_addInstanceMethod<&HMRoom::uniqueIdentifier>(c, "uniqueIdentifier");
        objc_addInstanceMethod<&HMRoom::accessories>(c, "accessories");
        return c;
    }();
    return cls;
}

HMRoom::~HMRoom() {
    if (accessories_) {
        for (const auto& object : *accessories_)
            device::HomeKitDevice::setRoom(static_cast<HMAccessory*>(object.get()), nullptr);
    }
}

namespace device {

Strong<HMRoom> HomeKitDevice::makeRoom(NSString* name, NSUUID* identifier, NSArray* accessories) {
    auto room = makeObject<HMRoom>();
    room->name_ = name;
    room->identifier_ = identifier;
    room->accessories_ = accessories ? Strong<NSArray>(accessories) : NSArray::array();
    for (const auto& object : *room->accessories_) setRoom(static_cast<HMAccessory*>(object.get()), room);
    return room;
}

}  // namespace device
