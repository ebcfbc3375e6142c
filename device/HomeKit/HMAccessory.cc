#include "HMAccessory.h"

#include "../objc/MethodRegistration.h"
#include "HMRoom.h"
#include "HMService.h"

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
        for (const auto& object : *services_) static_cast<HMService*>(object.get())->setAccessory(nullptr);
    }
}

Strong<HMAccessory> HMAccessory::make(NSString* name, NSUUID* identifier, NSArray* services, bool reachable) {
    auto accessory = makeObject<HMAccessory>();
    accessory->name_ = name;
    accessory->identifier_ = identifier;
    accessory->services_ = services ? Strong<NSArray>(services) : NSArray::array();
    accessory->reachable_ = reachable;
    for (const auto& object : *accessory->services_) static_cast<HMService*>(object.get())->setAccessory(accessory);
    return accessory;
}
