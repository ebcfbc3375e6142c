// HomeManager: the light controller of the home-screen process.
//
// One shared instance per process (`sharedManager`). It owns its HomeKit manager, its own handle on
// the settings store and the table of characteristic writes in flight. Two seconds after it is
// created it publishes the homes and rooms catalogue; every colour list given to `send:` is written
// to the lightbulbs of the selected rooms.
//
// Threads: everything but the in-flight table runs on the main thread (the launch hook, the main
// queue, the colour server's hand-off). The table is also cleared from HomeKit's completion queue;
// its accessors take the table's own lock, so both sides may use it at once.
#pragma once

#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <Foundation/Foundation.h>
#include <HBPreferences/HBPreferences.h>
#include <HomeKit/HomeKit.h>
#include <UIKit/UIKit.h>

// Characteristics are keyed by HomeKit's own equality and hash.
struct CharacteristicHash {
    size_t operator()(const Strong<HMCharacteristic>& c) const { return c->hash(); }
};
struct CharacteristicEqual {
    bool operator()(const Strong<HMCharacteristic>& a, const Strong<HMCharacteristic>& b) const {
        return a->isEqual(b.get());
    }
};
// Characteristic -> a write to it has been sent and has not completed yet.
using UpdatingTable = std::unordered_map<Strong<HMCharacteristic>, bool, CharacteristicHash, CharacteristicEqual>;

class HomeManager : public NSObject {
public:
    static Class objcClass();

    // The shared instance, made by `alloc` and `init` on the first call (also when the first calls
    // race); lent, it lives until the process ends.
    static HomeManager* sharedManager();
    // Sets up the fields, then schedules the catalogue on the main queue two seconds later.
    // Returns the receiver.
    HomeManager* init();
    // Applies `colours` (an NSArray of UIColor) in order. An element that is not a colour is
    // passed over; nil and an empty array apply nothing.
    void send(NSArray* colours);

    // The overridable members, in the order of the class's dispatch table.

    // YES while HomeKit reports a primary home; asked afresh on every read.
    virtual bool hasPrimaryHome();
    // The lightbulb services of every selected room of every home, in home, room, accessory and
    // service order; computed afresh on every read.
    virtual std::vector<Strong<HMService>> lights();
    // The in-flight table: a copy of it, the whole of it replaced, and changed in place under its
    // lock (the change must not call back into the table).
    virtual UpdatingTable updating();
    virtual void setUpdating(UpdatingTable table);
    virtual void modifyUpdating(const std::function<void(UpdatingTable&)>& change);
    // Publishes the homes and rooms under "Homes" and "Rooms"; does nothing without a primary home.
    virtual void saveHomesAndRooms();
    // Writes power, brightness, saturation and hue of colour i modulo the number of colours to
    // light i; unchanged values are not written and a light whose write is in flight is passed over.
    virtual void applyColors(const std::vector<Strong<UIColor>>& colours);

protected:
    // Scales `value` to the characteristic's range and writes it unless HomeKit holds it already.
    void writeCharacteristic(HMCharacteristic* characteristic, float value);

private:
    bool isInFlight(HMCharacteristic* characteristic);
    void markInFlight(HMCharacteristic* characteristic, bool inFlight);

    Strong<HMHomeManager> manager_;
    Strong<HBPreferences> preferences_;
    UpdatingTable updating_;  // guarded by updatingLock_
    std::mutex updatingLock_;
};
