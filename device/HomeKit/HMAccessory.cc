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
        objc_addInstanceMethod<&HMAccessory::delegate>(c, "delegate");
        objc_addInstanceMethod<&HMAccessory::setDelegate>(c, "setDelegate:");
        return c;
    }();
    return cls;
}

HMAccessory::~HMAccessory() {
    if (services_) device::adoptChildren<HMService>(this, services_.get(), NSArray::array());
}

namespace device {

Strong<HMAccessory> HomeKitDevice::makeAccessory(NSUUID* identifier, bool reachable) {
    auto accessory = makeObject<HMAccessory>();
    accessory->identifier_ = identifier;
    accessory->services_ = NSArray::array();
    accessory->reachable_ = reachable;
    return accessory;
}

void HomeKitDevice::fillAccessory(HMAccessory* accessory, NSString* name, NSArray* services) {
    Strong<NSArray> kept = services ? Strong<NSArray>(services) : NSArray::array();
    adoptChildren<HMService>(accessory, accessory->services_.get(), kept.get());
    accessory->name_ = name;
    accessory->services_ = kept;
}

void HomeKitDevice::updateReachability(HMAccessory* accessory, bool reachable) {
    if (accessory->reachable_.exchange(reachable) == reachable) return;
    SEL didUpdate = SEL_(accessoryDidUpdateReachability:);
    id delegate = accessory->delegate_;
    if (delegate && class_respondsToSelector(object_getClass(delegate), didUpdate))
        objc_msgSend<void>(delegate, didUpdate, static_cast<id>(accessory));
}

std::atomic<HMRoom*>& HomeKitDevice::parentOf(HMAccessory* accessory) { return accessory->room_; }

}  // namespace device
