// A real accessory in the home graph: the persistent, verified session its characteristics write
// through, the values it last reported, and whether it can be reached. Device only.
//
// Made on the HomeKit queue when the homes load, and shared by the accessory's characteristics
// through their AccessoryLink. What the accessory reports (the answers to writes, its events, a
// read of every characteristic whenever a session is verified) goes into the accessory store on
// the HomeKit queue, so every process of the device sees the lamp's own values; its reachability
// goes there too.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "../Foundation/Foundation.h"

#include "../base/SequenceChecker.h"
#include "AccessoryStore.h"
#include "HomeDescription.h"

namespace device::hap {
class AccessoryClient;
}

class RealAccessory : public std::enable_shared_from_this<RealAccessory> {
public:
    // The accessory `description` describes (it has `hap`), paired through the keyring of
    // `directory`. Starts connecting at once. Without a pairing in the keyring every write fails
    // saying so.
    static std::shared_ptr<RealAccessory> make(const AccessoryDescription& description,
                                               std::shared_ptr<AccessoryStore> store, const std::string& directory);
    ~RealAccessory();

    using WriteDone = std::function<void(Strong<NSError>)>;
    // Sends `value` (already fitted to the characteristic's limits) as the new value of `aid`.`iid`;
    // `done` runs on the HomeKit queue with nil once the accessory took it (the store holds it
    // then), else with why not. `what` names the characteristic in messages.
    void write(uint64_t aid, uint64_t iid, NSObject* value, const std::string& what, WriteDone done);

    // The value the accessory last reported for `aid`.`iid`, or nil when it has reported none.
    Strong<NSObject> value(uint64_t aid, uint64_t iid) const;

private:
    using Key = std::pair<uint64_t, uint64_t>;
    RealAccessory() = default;

    // On the HomeKit queue.
    void take(const Key& key, const Strong<NSObject>& value);
    void setReachable(const std::string& problem);

    std::string name_;  // quoted, anything a terminal would act on escaped: as log lines show it
    std::string identifier_;
    std::string problem_;  // why there is no session at all (not paired), else empty
    std::shared_ptr<AccessoryStore> store_;
    std::map<Key, std::string> characteristicIdentifiers_;
    std::unique_ptr<device::hap::AccessoryClient> client_;
    std::string lastReachability_ = "unknown";  // on the HomeKit queue
    device::SequenceChecker homeKitQueue_;      // where take and setReachable run

    mutable std::mutex valuesLock_;
    std::map<Key, Strong<NSObject>> values_;
};
