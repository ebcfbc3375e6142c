// The homes and rooms catalogue, published for the settings interface.
#include "HomeManager.h"

#include "platform/Settings.h"

void HomeManager::saveHomesAndRooms() {
    if (!hasPrimaryHome()) return;

    Strong<NSMutableArray> homeList = makeObject<NSMutableArray>();
    Strong<NSMutableArray> roomList = makeObject<NSMutableArray>();
    NSArray* homes = manager_->homes();
    if (homes != nil) {
        for (const Strong<NSObject>& homeObject : *homes) {
            auto* home = static_cast<HMHome*>(homeObject.get());
            Strong<NSString> homeIdentifier = home->uniqueIdentifier()->UUIDString();
            homeList->addObject(NSString::stringWithFormat("%s_%s", home->name()->UTF8String(),
                                                           homeIdentifier->UTF8String()));
            for (const Strong<NSObject>& roomObject : *home->rooms()) {
                auto* room = static_cast<HMRoom*>(roomObject.get());
                roomList->addObject(NSString::stringWithFormat("%s_%s_%s", room->name()->UTF8String(),
                                                               room->uniqueIdentifier()->UUIDString()->UTF8String(),
                                                               home->uniqueIdentifier()->UUIDString()->UTF8String()));
            }
        }
    }
    preferences_->setObject_forKey(homeList.get(), homesKey());
    preferences_->setObject_forKey(roomList.get(), roomsKey());
}
