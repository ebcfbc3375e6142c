#include "HMHome.h"

#include "HMRoom.h"
#include "HomeKitDevice.h"

namespace {

id Home_name(id self, SEL) { return static_cast<HMHome*>(self)->name(); }
id Home_uniqueIdentifier(id self, SEL) { return static_cast<HMHome*>(self)->uniqueIdentifier(); }
id Home_rooms(id self, SEL) { return static_cast<HMHome*>(self)->rooms(); }
id Home_accessories(id self, SEL) { return static_cast<HMHome*>(self)->accessories(); }
BOOL Home_isPrimary(id self, SEL) { return static_cast<HMHome*>(self)->isPrimary(); }

}  // namespace

Class HMHome::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMHome>("HMHome", NSObject::objcClass());
        class_addMethod(c, sel_registerName("name"), reinterpret_cast<IMP>(Home_name), "@16@0:8");
        class_addMethod(c, sel_registerName("uniqueIdentifier"), reinterpret_cast<IMP>(Home_uniqueIdentifier), "@16@0:8");
        class_addMethod(c, sel_registerName("rooms"), reinterpret_cast<IMP>(Home_rooms), "@16@0:8");
        class_addMethod(c, sel_registerName("accessories"), reinterpret_cast<IMP>(Home_accessories), "@16@0:8");
        class_addMethod(c, sel_registerName("isPrimary"), reinterpret_cast<IMP>(Home_isPrimary), "B16@0:8");
        return c;
    }();
    return cls;
}

namespace device {

Strong<HMHome> HomeKitDevice::makeHome(NSString* name, NSUUID* identifier, NSArray* rooms, bool primary) {
    auto home = makeObject<HMHome>();
    home->name_ = name;
    home->identifier_ = identifier;
    home->rooms_ = rooms ? Strong<NSArray>(rooms) : NSArray::array();
    home->primary_ = primary;
    std::vector<Strong<NSObject>> accessories;
    for (const auto& room : *home->rooms_) {
        for (const auto& accessory : *static_cast<HMRoom*>(room.get())->accessories()) accessories.push_back(accessory);
    }
    home->accessories_ = NSArray::arrayWithVector(std::move(accessories));
    return home;
}

}  // namespace device
