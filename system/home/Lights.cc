// Light discovery: the lightbulb services of the rooms whose switch is on.
#include "HomeManager.h"

std::vector<Strong<HMService>> HomeManager::lights() {
    std::vector<Strong<HMService>> result;
    NSArray* homes = manager_->homes();
    if (homes == nil || homes->count() == 0) return result;

    for (const Strong<NSObject>& homeObject : *homes) {
        auto* home = static_cast<HMHome*>(homeObject.get());
        for (const Strong<NSObject>& roomObject : *home->rooms()) {
            auto* room = static_cast<HMRoom*>(roomObject.get());
            // The settings interface keys a room's switch by the room's identifier text.
            if (!preferences_->boolForKey(room->uniqueIdentifier()->UUIDString())) continue;
            for (const Strong<NSObject>& accessoryObject : *room->accessories()) {
                auto* accessory = static_cast<HMAccessory*>(accessoryObject.get());
                for (const Strong<NSObject>& serviceObject : *accessory->services()) {
                    auto* service = static_cast<HMService*>(serviceObject.get());
                    if (service->serviceType()->isEqualToString(HMServiceTypeLightbulb)) result.emplace_back(service);
                }
            }
        }
    }
    return result;
}
