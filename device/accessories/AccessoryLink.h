// AccessoryLink: one accessory of the home as HomeKit's objects reach it, simulated or real alike:
// its transport, the value HomeKit holds for each of its characteristics (in one place: here), and
// whether it can be reached. Every characteristic of the accessory shares its link, and pending
// writes keep it alive. Device only.
//
// Made on the HomeKit queue when the homes load. `value`, `reachable` and `write` may be used from
// any thread; the rest belongs to the queue.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "../Foundation/Foundation.h"

#include "../dispatch/dispatch.h"
#include "../homes/HomeDescription.h"
#include "AccessoryStore.h"
#include "AccessoryTransport.h"

namespace device {

class AccessoryLink : public std::enable_shared_from_this<AccessoryLink> {
public:
    using Values = std::unordered_map<std::string, Strong<NSObject>>;

    // The accessory `description` describes, a real one when it has "hap" (paired through the
    // keyring of `directory`), holding `initial` (by characteristic identifier; the store's rows,
    // else the described values). Its transport reports on `queue`. Not started yet.
    static std::shared_ptr<AccessoryLink> make(const AccessoryDescription& description,
                                               std::shared_ptr<AccessoryStore> store, const std::string& directory,
                                               dispatch_queue_t queue, const Values& initial);
    ~AccessoryLink();

    const std::string& name() const { return name_; }
    bool real() const { return real_; }
    // The description it was made from: a home reloaded keeps the link of an accessory whose
    // description is unchanged, with its session.
    const AccessoryDescription& description() const { return description_; }

    // Starts the transport (a real lamp connects). `reachabilityChanged` runs on the queue each time
    // the accessory's reachability changes. The queue.
    void start(std::function<void(bool reachable)> reachabilityChanged);
    // Closes the transport: a real lamp's session ends, nothing more is reported, and later writes
    // (through a characteristic someone still holds) fail as unreachable. The queue.
    void close();

    // The value HomeKit holds for the characteristic `identifier`, nil when unknown. Any thread.
    Strong<NSObject> value(const std::string& identifier) const;
    // Whether the accessory answers, as last found. Any thread.
    bool reachable() const { return transport_->reachable(); }
    // Sends `value` (already through the value rule) to the accessory; `done` runs once on the
    // queue. When the accessory took it, it is the value held from then on. Any thread.
    void write(const CharacteristicAddress& where, NSObject* value, AccessoryTransport::WriteDone done);

private:
    AccessoryLink() = default;
    void keep(const std::string& identifier, const Strong<NSObject>& value);

    std::string name_;
    bool real_ = false;
    AccessoryDescription description_;
    std::shared_ptr<AccessoryTransport> transport_;
    dispatch_queue_t queue_ = nullptr;
    std::atomic<bool> closed_{false};

    mutable std::mutex valuesLock_;  // guards values_
    Values values_;
};

}  // namespace device
