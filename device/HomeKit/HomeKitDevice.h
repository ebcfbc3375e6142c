// The device's own side of HomeKit's objects, which iOS keeps to itself: the factories the home
// graph builds homes, rooms, accessories, services and characteristics with, the links between
// them, the errors the accessories report and the short type names of the home description.
// Device only; the system never sees it. Each factory runs before its object is shared.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "../Foundation/Foundation.h"

#include "HomeKit.h"

struct CharacteristicBackend;
struct ValueLimits;

namespace device {

// A friend of each HomeKit class: the one way in to what the class keeps private.
struct HomeKitDevice {
    // A characteristic of `type` whose writes go through `backend` (which holds its value) and
    // `metadata` (nil when it has none).
    static Strong<HMCharacteristic> makeCharacteristic(NSString* type, NSUUID* identifier,
                                                       HMCharacteristicMetadata* metadata,
                                                       std::shared_ptr<const CharacteristicBackend> backend);
    // A reloaded home's new metadata and backend for a characteristic it keeps. Main queue.
    static void updateCharacteristic(HMCharacteristic* characteristic, HMCharacteristicMetadata* metadata,
                                     std::shared_ptr<const CharacteristicBackend> backend);
    // Marks a power, brightness, saturation or hue characteristic of a lightbulb, whose value
    // reads the process's activity counts (activity/ProcessActivity.h).
    static void setCountsLightReads(HMCharacteristic* characteristic, bool counts);

    // The metadata the home description gives. A whole number becomes an integer NSNumber, any
    // other a real one.
    static Strong<HMCharacteristicMetadata> metadataFromLimits(const ValueLimits& limits);

    // The home, room, accessory and service objects are made empty and filled: when made, before
    // they are shared, and again on the main queue when a reloaded home keeps them with new
    // contents. Filling gives each child its parent, and takes the parent from a child that left
    // (unless another parent took it meanwhile).
    // A service's type is part of what it is: a reloaded home keeps a service only of the same type.
    static Strong<HMService> makeService(NSString* type, NSUUID* identifier);
    static void fillService(HMService* service, NSString* name, NSArray* characteristics);
    static Strong<HMAccessory> makeAccessory(NSUUID* identifier, bool reachable);
    static void fillAccessory(HMAccessory* accessory, NSString* name, NSArray* services);
    // Main queue: the accessory's reachability changed; its delegate hears of it.
    static void updateReachability(HMAccessory* accessory, bool reachable);
    static Strong<HMRoom> makeRoom(NSUUID* identifier);
    static void fillRoom(HMRoom* room, NSString* name, NSArray* accessories);
    static Strong<HMHome> makeHome(NSUUID* identifier);
    static void fillHome(HMHome* home, NSString* name, NSArray* rooms, bool primary);

    // Each child's back pointer to its parent: set by the parent that holds it, cleared by that
    // parent only when it goes or lets the child go.
    static std::atomic<HMService*>& parentOf(HMCharacteristic* characteristic);
    static std::atomic<HMAccessory*>& parentOf(HMService* service);
    static std::atomic<HMRoom*>& parentOf(HMAccessory* accessory);
};

// Gives each child in `children` the parent `parent`, and takes it from each child in `before` that
// still has it and is not in `children` any more. `Child` is the children's class.
template <class Child, class Parent>
void adoptChildren(Parent* parent, NSArray* before, NSArray* children) {
    if (before) {
        for (const auto& object : *before) {
            Parent* expected = parent;
            HomeKitDevice::parentOf(static_cast<Child*>(object.get())).compare_exchange_strong(expected, nullptr);
        }
    }
    for (const auto& object : *children) HomeKitDevice::parentOf(static_cast<Child*>(object.get())).store(parent);
}

// A new error of HMErrorDomain with `code` whose localizedDescription is `text`.
Strong<NSError> homeKitError(NSInteger code, const std::string& text);

}  // namespace device
