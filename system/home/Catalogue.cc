// The homes and rooms catalogue, published for the settings interface.
#include "HomeManager.h"

#include "platform/Settings.h"

namespace {

// The fields joined by "_", each whole: a name is taken as HomeKit reports it, NULs and all.
Strong<NSString> entry(std::initializer_list<NSString*> fields) {
    Strong<NSString> joined;
    for (NSString* field : fields)
        joined = joined ? joined->stringByAppendingString(NSSTR("_"))->stringByAppendingString(field)
                        : NSString::stringWithString(field ? field->string() : std::string());
    return joined;
}

}  // namespace

void HomeManager::saveHomesAndRooms() {
    if (!hasPrimaryHome()) return;

    Strong<NSMutableArray> homeList = makeObject<NSMutableArray>();
    Strong<NSMutableArray> roomList = makeObject<NSMutableArray>();
    NSArray* homes = manager_->homes();
    if (homes != nil) {
        for (const Strong<NSObject>& homeObject : *homes) {
            auto* home = static_cast<HMHome*>(homeObject.get());
            homeList->addObject(entry({home->name(), home->uniqueIdentifier()->UUIDString()}));
            for (const Strong<NSObject>& roomObject : *home->rooms()) {
                auto* room = static_cast<HMRoom*>(roomObject.get());
                roomList->addObject(entry(
                    {room->name(), room->uniqueIdentifier()->UUIDString(), home->uniqueIdentifier()->UUIDString()}));
            }
        }
    }
    preferences_->setObject_forKey(homeList.get(), homesKey());
    preferences_->setObject_forKey(roomList.get(), roomsKey());
}
