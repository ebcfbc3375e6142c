// A simulated lamp: it answers after its latency, fails as its fault says, and keeps what it takes
// in the accessory store, which is the lamp's memory shared by every process of the device.
// Device only.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "../dispatch/dispatch.h"
#include "../homes/HomeDescription.h"
#include "AccessoryStore.h"
#include "AccessoryTransport.h"

namespace device {

class SimulatedTransport : public AccessoryTransport, public std::enable_shared_from_this<SimulatedTransport> {
public:
    // The lamp `description` describes (it has no "hap"), answering on `queue`.
    SimulatedTransport(const AccessoryDescription& description, std::shared_ptr<AccessoryStore> store,
                       dispatch_queue_t queue);

    bool reachable() const override { return fault_ != AccessoryFault::unreachable; }
    void start(Events) override {}
    void write(const CharacteristicAddress& where, NSObject* value, WriteDone done) override;
    void close() override {}

private:
    AccessoryFault fault_;
    std::chrono::milliseconds latency_, timeout_;
    std::shared_ptr<AccessoryStore> store_;  // used on the queue only
    dispatch_queue_t queue_;
};

}  // namespace device
