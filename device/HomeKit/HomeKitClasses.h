// Registers HomeKit's classes with the run-time, as loading the HomeKit framework does, so that
// objc_getClass finds them by name before anything has used them. Device only.
#pragma once

namespace device {
// Registers HMHomeManager, HMHome, HMRoom, HMAccessory, HMService, HMCharacteristic,
// HMCharacteristicMetadata, and Foundation's NSUUID and NSError. Any thread; later calls do nothing.
void registerHomeKitClasses();
}  // namespace device
