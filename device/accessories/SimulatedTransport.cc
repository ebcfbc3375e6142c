#include "SimulatedTransport.h"

namespace device {

SimulatedTransport::SimulatedTransport(const AccessoryDescription& description, std::shared_ptr<AccessoryStore> store,
                                       dispatch_queue_t queue)
    : fault_(description.fault),
      latency_(description.latencyMs),
      timeout_(description.timeoutMs),
      store_(std::move(store)),
      queue_(queue) {}

void SimulatedTransport::write(const CharacteristicAddress& where, NSObject* value, WriteDone done) {
    std::chrono::milliseconds delay = fault_ == AccessoryFault::unreachable ? timeout_ : latency_;
    // The lamp's own object answers, so a write in flight outlives a home that is reloaded.
    std::shared_ptr<SimulatedTransport> self = shared_from_this();
    Strong<NSObject> held(value);
    std::string identifier = where.identifier;
    // The delay is a timer on the queue, not a sleep in it: a slow lamp holds up no other.
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, std::chrono::nanoseconds(delay).count()), queue_,
                   makeBlock([self, held, identifier, done = std::move(done)] {
                       WriteResult result;
                       if (self->fault_ == AccessoryFault::unreachable) {
                           result.status = Status::error(
                               "the accessory did not answer within " + std::to_string(self->timeout_.count()) + " ms",
                               kAccessoryTimedOut);
                       } else if (self->fault_ == AccessoryFault::error) {
                           result.status = Status::error("the accessory failed to take the value", kAccessoryFailed);
                       } else if (Status kept = self->store_->write(identifier, held.get()); !kept.ok()) {
                           result.status =
                               Status::error("the value was not kept: " + kept.message(), kAccessoryValueNotKept);
                       }
                       done(std::move(result));
                   }));
}

}  // namespace device
