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
    if (characteristics_) {
        for (const auto& object : *characteristics_)
            device::HomeKitDevice::setService(static_cast<HMCharacteristic*>(object.get()), nullptr);
    }
}

namespace device {

Strong<HMService> HomeKitDevice::makeService(NSString* type, NSString* name, NSUUID* identifier,
                                             NSArray* characteristics) {
    auto service = makeObject<HMService>();
    service->type_ = type;
    service->name_ = name;
    service->identifier_ = identifier;
    service->characteristics_ = characteristics ? Strong<NSArray>(characteristics) : NSArray::array();
    const bool lightbulb = type != nil && type->isEqualToString(HMServiceTypeLightbulb);
    for (const auto& object : *service->characteristics_) {
        auto* characteristic = static_cast<HMCharacteristic*>(object.get());
        setService(characteristic, service);
        NSString* kind = characteristic->characteristicType();
        bool colour =
            lightbulb && kind != nil &&
            (kind->isEqualToString(HMCharacteristicTypePowerState) ||
             kind->isEqualToString(HMCharacteristicTypeBrightness) ||
             kind->isEqualToString(HMCharacteristicTypeSaturation) || kind->isEqualToString(HMCharacteristicTypeHue));
        setCountsLightReads(characteristic, colour);
        service->lightCharacteristics_ += colour ? 1 : 0;
    }
    return service;
}

void HomeKitDevice::setAccessory(HMService* service, HMAccessory* accessory) { service->accessory_.store(accessory); }

}  // namespace device

NSArray* HMService::characteristics() const {
    if (lightCharacteristics_ != 0)
        device::countActivity(device::Activity::lightCharacteristicsOffered, lightCharacteristics_);
    return characteristics_.get();
}
