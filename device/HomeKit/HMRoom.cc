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
    if (accessories_) device::adoptChildren<HMAccessory>(this, accessories_.get(), NSArray::array());
}

namespace device {

Strong<HMRoom> HomeKitDevice::makeRoom(NSUUID* identifier) {
    auto room = makeObject<HMRoom>();
    room->identifier_ = identifier;
    room->accessories_ = NSArray::array();
    return room;
}

void HomeKitDevice::fillRoom(HMRoom* room, NSString* name, NSArray* accessories) {
    Strong<NSArray> kept = accessories ? Strong<NSArray>(accessories) : NSArray::array();
    adoptChildren<HMAccessory>(room, room->accessories_.get(), kept.get());
    room->name_ = name;
    room->accessories_ = kept;
}

}  // namespace device
