#include "AccessoryLink.h"

#include "HapTransport.h"
#include "SimulatedTransport.h"

namespace device {

std::shared_ptr<AccessoryLink> AccessoryLink::make(const AccessoryDescription& description,
                                                   std::shared_ptr<AccessoryStore> store, const std::string& directory,
                                                   dispatch_queue_t queue, const Values& initial) {
    std::shared_ptr<AccessoryLink> link(new AccessoryLink());
    link->name_ = description.name;
    link->real_ = description.hap.has_value();
    link->description_ = description;
    link->queue_ = queue;
    if (link->real_)
        link->transport_ = HapTransport::make(description, std::move(store), directory, queue);
    else
        link->transport_ = std::make_shared<SimulatedTransport>(description, std::move(store), queue);
    for (const ServiceDescription& service : description.services)
        for (const CharacteristicDescription& characteristic : service.characteristics) {
            auto found = initial.find(characteristic.identifier);
            Strong<NSObject> value = found != initial.end() ? found->second : characteristic.value;
            if (value) link->values_[characteristic.identifier] = value;
        }
    return link;
}

AccessoryLink::~AccessoryLink() = default;

void AccessoryLink::start(std::function<void(bool reachable)> reachabilityChanged) {
    std::weak_ptr<AccessoryLink> weak = weak_from_this();
    AccessoryTransport::Events events;
    events.reported = [weak](const std::string& identifier, Strong<NSObject> value) {
        if (std::shared_ptr<AccessoryLink> self = weak.lock()) self->keep(identifier, value);
    };
    events.reachability = [changed = std::move(reachabilityChanged)](bool reachable, const std::string&) {
        if (changed) changed(reachable);
    };
    transport_->start(std::move(events));
}

void AccessoryLink::close() {
    closed_ = true;
    transport_->close();
}

Strong<NSObject> AccessoryLink::value(const std::string& identifier) const {
    std::lock_guard<std::mutex> guard(valuesLock_);
    auto found = values_.find(identifier);
    return found != values_.end() ? found->second : nullptr;
}

void AccessoryLink::write(const CharacteristicAddress& where, NSObject* value, AccessoryTransport::WriteDone done) {
    // The link stays alive until the accessory has answered, even when the home is reloaded meanwhile.
    if (closed_) {
        // A characteristic someone still holds of an accessory that left the home reaches nothing.
        dispatch_async(queue_, makeBlock([done = std::move(done)] {
                           done({Status::error("the accessory is no longer in the home", kAccessoryUnreachable), 0});
                       }));
        return;
    }
    std::shared_ptr<AccessoryLink> self = shared_from_this();
    Strong<NSObject> held(value);
    std::string identifier = where.identifier;
    transport_->write(where, value, [self, held, identifier, done = std::move(done)](WriteResult result) {
        if (result.taken()) self->keep(identifier, held);
        done(std::move(result));
    });
}

void AccessoryLink::keep(const std::string& identifier, const Strong<NSObject>& value) {
    std::lock_guard<std::mutex> guard(valuesLock_);
    values_[identifier] = value;
}

}  // namespace device
