#include "HMService.h"

#include "HMAccessory.h"
#include "HMCharacteristic.h"
#include "HMTypes.h"
#include "HomeKitDevice.h"
#include "activity/ProcessActivity.h"

namespace {

id Service_serviceType(id self, SEL) { return static_cast<HMService*>(self)->serviceType(); }
id Service_name(id self, SEL) { return static_cast<HMService*>(self)->name(); }
id Service_uniqueIdentifier(id self, SEL) { return static_cast<HMService*>(self)->uniqueIdentifier(); }
id Service_characteristics(id self, SEL) { return static_cast<HMService*>(self)->characteristics(); }
id Service_accessory(id self, SEL) { return static_cast<HMService*>(self)->accessory(); }

}  // namespace

Class HMService::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMService>("HMService", NSObject::objcClass());
        class_addMethod(c, sel_registerName("serviceType"), reinterpret_cast<IMP>(Service_serviceType), "@16@0:8");
        class_addMethod(c, sel_registerName("name"), reinterpret_cast<IMP>(Service_name), "@16@0:8");
        class_addMethod(c, sel_registerName("uniqueIdentifier"), reinterpret_cast<IMP>(Service_uniqueIdentifier), "@16@0:8");
        class_addMethod(c, sel_registerName("characteristics"), reinterpret_cast<IMP>(Service_characteristics), "@16@0:8");
        class_addMethod(c, sel_registerName("accessory"), reinterpret_cast<IMP>(Service_accessory), "@16@0:8");
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
        bool colour = lightbulb && kind != nil &&
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
    if (lightCharacteristics_ != 0) device::countActivity(device::Activity::lightCharacteristicsOffered, lightCharacteristics_);
    return characteristics_.get();
}
