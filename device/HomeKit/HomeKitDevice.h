// The device's own side of HomeKit's objects, which iOS keeps to itself: the factories the home
// graph builds homes, rooms, accessories, services and characteristics with, the links between
// them, the errors the accessories report and the short type names of the home description.
// Device only; the system never sees it. Each factory runs before its object is shared.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "../Foundation/Foundation.h"

#include "HomeKit.h"

struct CharacteristicBackend;
struct ValueLimits;

namespace device {

// A friend of each HomeKit class: the one way in to what the class keeps private.
struct HomeKitDevice {
    // A characteristic of `type` whose writes go through `backend`, holding `initialValue` (nil
    // when unknown) and `metadata` (nil when it has none).
    static Strong<HMCharacteristic> makeCharacteristic(NSString* type, NSUUID* identifier,
                                                       HMCharacteristicMetadata* metadata, NSObject* initialValue,
                                                       std::shared_ptr<const CharacteristicBackend> backend);
    // Set once by the service that holds `characteristic`, and cleared when that service goes.
    static void setService(HMCharacteristic* characteristic, HMService* service);
    // Marks a power, brightness, saturation or hue characteristic of a lightbulb, whose value
    // reads the process's activity counts (activity/ProcessActivity.h).
    static void setCountsLightReads(HMCharacteristic* characteristic, bool counts);

    // The metadata the home description gives. A whole number becomes an integer NSNumber, any
    // other a real one.
    static Strong<HMCharacteristicMetadata> metadataFromLimits(const ValueLimits& limits);

    // A service holding `characteristics` (HMCharacteristic objects), which take it as their
    // service.
    static Strong<HMService> makeService(NSString* type, NSString* name, NSUUID* identifier, NSArray* characteristics);
    // Set once by the accessory that holds `service`, and cleared when that accessory goes.
    static void setAccessory(HMService* service, HMAccessory* accessory);

    // An accessory holding `services` (HMService objects), which take it as their accessory.
    static Strong<HMAccessory> makeAccessory(NSString* name, NSUUID* identifier, NSArray* services, bool reachable);
    // Set once by the room that holds `accessory`, and cleared when that room goes.
    static void setRoom(HMAccessory* accessory, HMRoom* room);

    // A room holding `accessories` (HMAccessory objects), which take it as their room.
    static Strong<HMRoom> makeRoom(NSString* name, NSUUID* identifier, NSArray* accessories);

    // A home of `rooms` (HMRoom objects).
    static Strong<HMHome> makeHome(NSString* name, NSUUID* identifier, NSArray* rooms, bool primary);
};

// A new error of HMErrorDomain with `code` whose localizedDescription is `text`.
Strong<NSError> homeKitError(NSInteger code, const std::string& text);

// The type identifier a short name stands for ("lightbulb", "fan", "outlet", "switch" for
// services; "power", "brightness", "saturation", "hue", "name", "colorTemperature",
// "rotationSpeed" for characteristics); nullptr for any other name.
NSString* serviceTypeForShortName(std::string_view name);
NSString* characteristicTypeForShortName(std::string_view name);
// The short name of a known type identifier (any case), or the identifier itself.
std::string shortNameOfServiceType(std::string_view type);
std::string shortNameOfCharacteristicType(std::string_view type);

}  // namespace device
