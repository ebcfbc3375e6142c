#include "HMRoom.h"

#include "HMAccessory.h"
#include "HomeKitDevice.h"

namespace {

id Room_name(id self, SEL) { return static_cast<HMRoom*>(self)->name(); }
id Room_uniqueIdentifier(id self, SEL) { return static_cast<HMRoom*>(self)->uniqueIdentifier(); }
id Room_accessories(id self, SEL) { return static_cast<HMRoom*>(self)->accessories(); }

}  // namespace

Class HMRoom::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMRoom>("HMRoom", NSObject::objcClass());
        class_addMethod(c, sel_registerName("name"), reinterpret_cast<IMP>(Room_name), "@16@0:8");
        class_addMethod(c, sel_registerName("uniqueIdentifier"), reinterpret_cast<IMP>(Room_uniqueIdentifier), "@16@0:8");
        class_addMethod(c, sel_registerName("accessories"), reinterpret_cast<IMP>(Room_accessories), "@16@0:8");
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
