#include "HomeKitClasses.h"

#include "HomeKit.h"

namespace device {

void registerHomeKitClasses() {
    NSUUID::objcClass();
    NSError::objcClass();
    HMHomeManager::objcClass();
    HMHome::objcClass();
    HMRoom::objcClass();
    HMAccessory::objcClass();
    HMService::objcClass();
    HMCharacteristic::objcClass();
    HMCharacteristicMetadata::objcClass();
}

}  // namespace device
