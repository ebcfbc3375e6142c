#include "HMService.h"

#include "../activity/ProcessActivity.h"
#include "../objc/MethodRegistration.h"
#include "HMAccessory.h"
#include "HMCharacteristic.h"
#include "HMTypes.h"
#include "HomeKitDevice.h"

Class HMService::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMService>("HMService", NSObject::objcClass());
        objc_addInstanceMethod<&HMService::serviceType>(c, "serviceType");
        objc_addInstanceMethod<&HMService::name>(c, "name");
        objc_addInstanceMethod<&HMService::uniqueIdentifier>(c, "uniqueIdentifier");
        objc_addInstanceMethod<&HMService::characteristics>(c, "characteristics");
        objc_addInstanceMethod<&HMService::accessory>(c, "accessory");
        return c;
    }();
    return cls;
}

HMService::~HMService() {
    // A characteristic kept by someone else must not point at a service that is gone.
    if (characteristics_) device::adoptChildren<HMCharacteristic>(this, characteristics_.get(), NSArray::array());
}

namespace device {

Strong<HMService> HomeKitDevice::makeService(NSString* type, NSUUID* identifier) {
    auto service = makeObject<HMService>();
    service->type_ = type;
    service->identifier_ = identifier;
    service->characteristics_ = NSArray::array();
    return service;
}

void HomeKitDevice::fillService(HMService* service, NSString* name, NSArray* characteristics) {
    Strong<NSArray> kept = characteristics ? Strong<NSArray>(characteristics) : NSArray::array();
    adoptChildren<HMCharacteristic>(service, service->characteristics_.get(), kept.get());
    service->name_ = name;
    NSString* type = service->type_.get();
    const bool lightbulb = type != nil && type->isEqualToString(HMServiceTypeLightbulb);
    uint64_t lights = 0;
    for (const auto& object : *kept) {
        auto* characteristic = static_cast<HMCharacteristic*>(object.get());
        NSString* kind = characteristic->characteristicType();
        bool colour =
            lightbulb && kind != nil &&
            (kind->isEqualToString(HMCharacteristicTypePowerState) ||
             kind->isEqualToString(HMCharacteristicTypeBrightness) ||
             kind->isEqualToString(HMCharacteristicTypeSaturation) || kind->isEqualToString(HMCharacteristicTypeHue));
        setCountsLightReads(characteristic, colour);
        lights += colour ? 1 : 0;
    }
    service->characteristics_ = kept;
    service->lightCharacteristics_ = lights;
}

std::atomic<HMAccessory*>& HomeKitDevice::parentOf(HMService* service) { return service->accessory_; }

}  // namespace device

NSArray* HMService::characteristics() const {
    if (lightCharacteristics_ != 0)
        device::countActivity(device::Activity::lightCharacteristicsOffered, lightCharacteristics_);
    return characteristics_.get();
}
