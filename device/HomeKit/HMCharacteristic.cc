#include "HMCharacteristic.h"

#include "../activity/ProcessActivity.h"
#include "../objc/MethodRegistration.h"
#include "AccessoryLink.h"
#include "HMError.h"
#include "HMService.h"
#include "HomeKitDevice.h"
#include "HomeKitQueue.h"

namespace {

// The caller owns the result: a completion on another thread may replace the value at any time,
// so a lent one could go while the caller still looks at it.
id Characteristic_value(HMCharacteristic* self) { return self->value().detach(); }
// A block's signature does not show in its type string, so one taking `id` is accepted too, and
// anything else is refused at once rather than called wrongly later.
void Characteristic_writeValue(HMCharacteristic* characteristic, id value, AnyBlock block) {
    id completion = block.object;
    if (completion == nil || dynamic_cast<Block<void(NSError*)>*>(completion)) {
        characteristic->writeValue_completionHandler(value, static_cast<Block<void(NSError*)>*>(completion));
    } else if (auto* general = dynamic_cast<Block<void(id)>*>(completion)) {
        Strong<Block<void(id)>> held(general);
        characteristic->writeValue_completionHandler(value, makeBlock([held](NSError* error) { (*held)(error); }));
    } else {
        NSException::raise(NSInvalidArgumentException,
                           "writeValue:completionHandler: takes a block of one NSError argument, not a " +
                               std::string(object_getClassName(completion)));
    }
}

}  // namespace

Class HMCharacteristic::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMCharacteristic>("HMCharacteristic", NSObject::objcClass());
        objc_addInstanceMethod<&HMCharacteristic::characteristicType>(c, "characteristicType");
        objc_addInstanceMethod<&HMCharacteristic::uniqueIdentifier>(c, "uniqueIdentifier");
        objc_addInstanceMethod<&HMCharacteristic::metadata>(c, "metadata");
        objc_addInstanceMethod<&HMCharacteristic::service>(c, "service");
        objc_addInstanceMethod<&Characteristic_value>(c, "value");
        objc_addInstanceMethod<&Characteristic_writeValue>(c, "writeValue:completionHandler:");
        return c;
    }();
    return cls;
}

HMCharacteristic::HMCharacteristic() = default;
HMCharacteristic::~HMCharacteristic() = default;

namespace device {

Strong<HMCharacteristic> HomeKitDevice::makeCharacteristic(NSString* type, NSUUID* identifier,
                                                           HMCharacteristicMetadata* metadata, NSObject* initialValue,
                                                           std::shared_ptr<const CharacteristicBackend> backend) {
    auto characteristic = makeObject<HMCharacteristic>();
    characteristic->type_ = type;
    characteristic->identifier_ = identifier;
    characteristic->metadata_ = metadata;
    characteristic->value_ = initialValue;
    characteristic->backend_ = std::move(backend);
    return characteristic;
}

void HomeKitDevice::setService(HMCharacteristic* characteristic, HMService* service) {
    characteristic->service_.store(service);
}

void HomeKitDevice::setCountsLightReads(HMCharacteristic* characteristic, bool counts) {
    characteristic->countsLightReads_ = counts;
}

}  // namespace device

Strong<NSObject> HMCharacteristic::value() const {
    if (countsLightReads_) device::countActivity(device::Activity::lightValuesRead);
    if (backend_ && backend_->accessory && backend_->accessory->real) {
        if (Strong<NSObject> reported = backend_->accessory->real->value(backend_->aid, backend_->iid)) return reported;
    }
    std::lock_guard<std::mutex> guard(valueLock_);
    return value_;
}

void HMCharacteristic::writeValue_completionHandler(id value, Block<void(NSError*)>* completion) {
    device::countActivity(device::Activity::writesIssued);
    device::recordWriteLatency(device::currentFrameOrigin());
    Strong<HMCharacteristic> self(this);
    Strong<NSObject> held(value);
    Strong<Block<void(NSError*)>> heldCompletion(completion);
    if (backend_ && backend_->accessory && backend_->accessory->real) {
        writeToRealAccessory(held, heldCompletion);
        return;
    }
    std::chrono::milliseconds delay{0};
    if (backend_ && backend_->accessory) {
        const AccessoryLink& accessory = *backend_->accessory;
        delay = accessory.fault == AccessoryFault::unreachable ? accessory.timeout : accessory.latency;
    }
    // The delay is a timer on the queue, not a sleep in it: a slow accessory holds up no other.
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, std::chrono::nanoseconds(delay).count()), homeKitQueue(),
                   makeBlock([self, held, heldCompletion] { self->finishWrite(held, heldCompletion); }));
}

// On the HomeKit queue, once the accessory has answered (or failed to).
void HMCharacteristic::finishWrite(const Strong<NSObject>& value, const Strong<Block<void(NSError*)>>& completion) {
    Strong<NSError> error;
    if (!backend_ || !backend_->accessory) {
        error = device::homeKitError(HMErrorCodeAccessoryNotReachable, "the characteristic belongs to no accessory");
    } else {
        const CharacteristicBackend& backend = *backend_;
        const AccessoryLink& accessory = *backend.accessory;
        std::string what = "\"" + accessory.accessoryName + "\" " + backend.typeName;
        if (accessory.fault == AccessoryFault::unreachable) {
            error = device::homeKitError(
                HMErrorCodeOperationTimedOut,
                what + ": the accessory did not answer within " + std::to_string(accessory.timeout.count()) + " ms");
        } else if (accessory.fault == AccessoryFault::error) {
            error = device::homeKitError(HMErrorCodeCommunicationFailure,
                                         what + ": the accessory failed to take the value");
        } else if (ValueCheck check =
                       checkCharacteristicValue(backend.limits ? &*backend.limits : nullptr, value.get());
                   !check.accepted()) {
            error = device::homeKitError(check.code, what + ": " + check.reason);
        } else if (device::Status problem = accessory.store->write(backend.identifier, value.get()); !problem.ok()) {
            error = device::homeKitError(HMErrorCodeCommunicationFailure,
                                         what + ": the value was not kept: " + problem.message());
        } else {
            std::lock_guard<std::mutex> guard(valueLock_);
            value_ = value;
        }
    }
    if (error) device::countActivity(device::Activity::writesFailed);
    if (completion) (*completion)(error.get());
}

// A real accessory answers for itself: the value, fitted to the characteristic's limits, goes over
// its session, and the completion runs when the accessory has answered.
void HMCharacteristic::writeToRealAccessory(const Strong<NSObject>& value,
                                            const Strong<Block<void(NSError*)>>& completion) {
    const CharacteristicBackend& backend = *backend_;
    std::string what = "\"" + backend.accessory->accessoryName + "\" " + backend.typeName;
    const ValueLimits* limits = backend.limits ? &*backend.limits : nullptr;
    Strong<NSObject> fitted = fitCharacteristicValue(limits, value.get());
    Strong<HMCharacteristic> self(this);
    auto finish = [self, fitted, completion](Strong<NSError> error) {
        if (error) {
            device::countActivity(device::Activity::writesFailed);
        } else {
            std::lock_guard<std::mutex> guard(self->valueLock_);
            self->value_ = fitted;
        }
        if (completion) (*completion)(error.get());
    };
    if (ValueCheck check = checkCharacteristicValue(limits, fitted.get()); !check.accepted()) {
        Strong<NSError> error = device::homeKitError(check.code, what + ": " + check.reason);
        dispatch_async(homeKitQueue(), makeBlock([finish, error] { finish(error); }));
        return;
    }
    backend.accessory->real->write(backend.aid, backend.iid, fitted.get(), what, std::move(finish));
}

std::string HMCharacteristic::description() const {
    return "<HMCharacteristic " + (backend_ ? backend_->typeName : std::string("?")) + " " +
           (identifier_ ? identifier_->description() : std::string()) + ">";
}
