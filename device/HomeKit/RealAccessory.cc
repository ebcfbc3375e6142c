#include "RealAccessory.h"

#include "../Foundation/Foundation.h"
#include "../Foundation/PrintableText.h"

#include "../activity/ProcessActivity.h"
#include "../hap/AccessoryClient.h"
#include "../hap/Keyring.h"
#include "HMError.h"
#include "HomeKitDevice.h"
#include "HomeKitQueue.h"

namespace hap = device::hap;

namespace {

// What the accessory's own status code for one characteristic means, as HomeKit reports it.
std::pair<NSInteger, std::string> describeStatus(int status) {
    switch (status) {
        case -70401:
            return {HMErrorCodeCommunicationFailure, "this controller may not do that"};
        case -70402:
            return {HMErrorCodeCommunicationFailure, "the accessory cannot reach the light"};
        case -70403:
            return {HMErrorCodeAccessoryIsBusy, "the accessory is busy"};
        case -70404:
            return {HMErrorCodeInvalidParameter, "the characteristic cannot be written"};
        case -70407:
            return {HMErrorCodeAccessoryIsBusy, "the accessory is out of resources"};
        case -70408:
            return {HMErrorCodeOperationTimedOut, "the accessory timed out"};
        case -70409:
            return {HMErrorCodeInvalidParameter, "the accessory has no such characteristic"};
        case -70410:
            return {HMErrorCodeInvalidValueType, "the accessory refused the value as invalid"};
        default:
            return {HMErrorCodeCommunicationFailure, "the accessory refused the write"};
    }
}

}  // namespace

std::shared_ptr<RealAccessory> RealAccessory::make(const AccessoryDescription& description,
                                                   std::shared_ptr<AccessoryStore> store,
                                                   const std::string& directory) {
    std::shared_ptr<RealAccessory> accessory(new RealAccessory());
    accessory->name_ = device::quotedPrintable(description.name);
    accessory->identifier_ = description.identifier;
    accessory->store_ = std::move(store);
    std::vector<hap::CharacteristicRef> subscribe;
    for (const ServiceDescription& service : description.services)
        for (const CharacteristicDescription& characteristic : service.characteristics) {
            accessory->characteristicIdentifiers_[{characteristic.aid, characteristic.iid}] = characteristic.identifier;
            subscribe.push_back({characteristic.aid, characteristic.iid});
        }

    const HapAccessoryAddress& address = *description.hap;
    device::StatusOr<hap::Keyring> keyring = hap::Keyring::open(directory);
    std::optional<hap::AccessoryPairing> pairing;
    if (keyring.ok()) pairing = keyring->pairing(address.pairingId);
    if (!keyring.ok()) {
        accessory->problem_ = "the controller's keys cannot be read: " + keyring.status().message();
    } else if (!pairing) {
        accessory->problem_ = "this device is not paired with it (pair it again with `glimmora home pair`)";
    }
    if (!accessory->problem_.empty()) {
        accessory->setReachable(accessory->problem_);
        return accessory;
    }

    // The client's callbacks run on its own sequence: they only hand over to the HomeKit queue, and
    // hold the accessory weakly, so that a home going away is never kept by its own session.
    std::weak_ptr<RealAccessory> weak = accessory;
    hap::AccessoryClient::Callbacks callbacks;
    callbacks.values = [weak](const std::vector<hap::CharacteristicReport>& reports) {
        dispatch_async(homeKitQueue(), makeBlock([weak, reports] {
                           std::shared_ptr<RealAccessory> self = weak.lock();
                           if (!self) return;
                           for (const hap::CharacteristicReport& report : reports)
                               if (Strong<NSObject> value = decodeAccessoryValue(report.value))
                                   self->take({report.aid, report.iid}, value);
                       }));
    };
    callbacks.reachability = [weak](bool reachable, const device::Status& why) {
        std::string problem = reachable ? std::string() : why.message();
        if (!reachable && problem.empty()) problem = "the accessory cannot be reached";
        dispatch_async(homeKitQueue(), makeBlock([weak, problem] {
                           if (std::shared_ptr<RealAccessory> self = weak.lock()) self->setReachable(problem);
                       }));
    };
    hap::AccessoryClient::Options options;
    options.requestTimeout = std::chrono::milliseconds(description.timeoutMs);
    options.connectTimeout = std::min(options.connectTimeout, options.requestTimeout);
    accessory->client_ =
        std::make_unique<hap::AccessoryClient>(hap::Endpoint{address.host, address.port}, keyring->controller(),
                                               *pairing, std::move(subscribe), std::move(callbacks), options);
    accessory->client_->connect();
    return accessory;
}

RealAccessory::~RealAccessory() = default;

void RealAccessory::write(uint64_t aid, uint64_t iid, NSObject* value, const std::string& what, WriteDone done) {
    if (!client_) {
        Strong<NSError> error = device::homeKitError(HMErrorCodeAccessoryNotReachable, what + ": " + problem_);
        dispatch_async(homeKitQueue(), makeBlock([done = std::move(done), error] { done(error); }));
        return;
    }
    std::weak_ptr<RealAccessory> weak = weak_from_this();
    Strong<NSObject> held(value);
    device::FrameOrigin origin = device::currentFrameOrigin();
    // Runs on the client's sequence: everything it holds moves into the block, so nothing of the
    // home is released there (the client's sequence must never end its own client).
    auto finish = [weak, held, what, origin, done = std::move(done)](
                      device::Status status, std::vector<hap::CharacteristicStatus> statuses) mutable {
        if (status.ok()) device::recordAcknowledgedLatency(origin);
        dispatch_async(
            homeKitQueue(),
            makeBlock([weak = std::move(weak), held = std::move(held), what = std::move(what), done = std::move(done),
                       status = std::move(status), statuses = std::move(statuses)]() mutable {
                Strong<NSError> error;
                int code = statuses.empty() ? 0 : statuses.front().status;
                if (!status.ok()) {
                    error = device::homeKitError(HMErrorCodeAccessoryNotReachable, what + ": " + status.message());
                } else if (code != 0) {
                    auto [errorCode, reason] = describeStatus(code);
                    error = device::homeKitError(errorCode,
                                                 what + ": " + reason + " (status " + std::to_string(code) + ")");
                } else if (std::shared_ptr<RealAccessory> self = weak.lock()) {
                    self->take({statuses.front().aid, statuses.front().iid}, held);
                }
                done(error);
            }));
    };
    client_->write({{aid, iid, encodeAccessoryValue(value)}}, std::move(finish));
}

Strong<NSObject> RealAccessory::value(uint64_t aid, uint64_t iid) const {
    std::lock_guard<std::mutex> guard(valuesLock_);
    auto found = values_.find({aid, iid});
    return found != values_.end() ? found->second : nullptr;
}

void RealAccessory::take(const Key& key, const Strong<NSObject>& value) {
    homeKitQueue_.check("a real accessory");
    {
        std::lock_guard<std::mutex> guard(valuesLock_);
        values_[key] = value;
    }
    auto identifier = characteristicIdentifiers_.find(key);
    if (identifier == characteristicIdentifiers_.end()) return;
    if (device::Status problem = store_->write(identifier->second, value.get()); !problem.ok())
        NSLog("HomeKit: %s: the accessory's value was not kept: %s", name_.c_str(), problem.message().c_str());
}

void RealAccessory::setReachable(const std::string& problem) {
    homeKitQueue_.check("a real accessory");
    if (problem == lastReachability_) return;
    bool wasUnreachable = !lastReachability_.empty() && lastReachability_ != "unknown";
    lastReachability_ = problem;
    // Reaching an accessory is the usual case; only its loss and its return are news.
    if (problem.empty() && wasUnreachable)
        NSLog("HomeKit: %s is reachable again", name_.c_str());
    else if (!problem.empty())
        NSLog("HomeKit: %s cannot be reached: %s", name_.c_str(), problem.c_str());
    if (device::Status stored = store_->writeReachability(identifier_, problem); !stored.ok())
        NSLog("HomeKit: %s: its reachability was not kept: %s", name_.c_str(), stored.message().c_str());
}
