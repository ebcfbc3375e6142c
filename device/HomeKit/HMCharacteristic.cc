#include "HMCharacteristic.h"

#include "../activity/ProcessActivity.h"
#include "../objc/MethodRegistration.h"
#include "CharacteristicBackend.h"
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
                                                           HMCharacteristicMetadata* metadata,
                                                           std::shared_ptr<const CharacteristicBackend> backend) {
    auto characteristic = makeObject<HMCharacteristic>();
    characteristic->type_ = type;
    characteristic->identifier_ = identifier;
    characteristic->metadata_ = metadata;
    characteristic->backend_ = std::move(backend);
    return characteristic;
}

void HomeKitDevice::updateCharacteristic(HMCharacteristic* characteristic, HMCharacteristicMetadata* metadata,
                                         std::shared_ptr<const CharacteristicBackend> backend) {
    characteristic->metadata_ = metadata;
    std::lock_guard<std::mutex> guard(characteristic->backendLock_);
    characteristic->backend_ = std::move(backend);
}

std::atomic<HMService*>& HomeKitDevice::parentOf(HMCharacteristic* characteristic) { return characteristic->service_; }

void HomeKitDevice::setCountsLightReads(HMCharacteristic* characteristic, bool counts) {
    characteristic->countsLightReads_ = counts;
}

}  // namespace device

std::shared_ptr<const CharacteristicBackend> HMCharacteristic::backend() const {
    std::lock_guard<std::mutex> guard(backendLock_);
    return backend_;
}

Strong<NSObject> HMCharacteristic::value() const {
    if (countsLightReads_) device::countActivity(device::Activity::lightValuesRead);
    std::shared_ptr<const CharacteristicBackend> backend = this->backend();
    return backend && backend->accessory ? backend->accessory->value(backend->address.identifier) : nullptr;
}

namespace {

NSInteger homeKitCode(ValueProblem problem) {
    switch (problem) {
        case ValueProblem::missing:
            return HMErrorCodeNilParameter;
        case ValueProblem::wrongType:
            return HMErrorCodeInvalidValueType;
        case ValueProblem::belowMinimum:
            return HMErrorCodeValueLowerThanMinimum;
        case ValueProblem::aboveMaximum:
            return HMErrorCodeValueHigherThanMaximum;
        case ValueProblem::none:
        case ValueProblem::notFinite:
        case ValueProblem::notBoolean:
            break;
    }
    return HMErrorCodeInvalidParameter;
}

// What an accessory's own status for one characteristic means, as HomeKit reports it.
std::pair<NSInteger, std::string> describeAccessoryStatus(int status) {
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

// The error HomeKit reports for a write that ended with `result`; nil when the accessory took it.
Strong<NSError> errorFor(const device::WriteResult& result, const std::string& what) {
    if (!result.status.ok()) {
        NSInteger code = HMErrorCodeCommunicationFailure;
        switch (result.status.code()) {
            case device::kAccessoryUnreachable:
                code = HMErrorCodeAccessoryNotReachable;
                break;
            case device::kAccessoryTimedOut:
                code = HMErrorCodeOperationTimedOut;
                break;
            default:
                break;
        }
        return device::homeKitError(code, what + ": " + result.status.message());
    }
    if (result.accessoryStatus == 0) return nullptr;
    auto [code, reason] = describeAccessoryStatus(result.accessoryStatus);
    return device::homeKitError(code,
                                what + ": " + reason + " (status " + std::to_string(result.accessoryStatus) + ")");
}

}  // namespace

void HMCharacteristic::writeValue_completionHandler(id value, Block<void(NSError*)>* completion) {
    device::countActivity(device::Activity::writesIssued);
    device::recordWriteLatency(device::currentFrameOrigin());
    Strong<Block<void(NSError*)>> held(completion);
    auto finish = [held](const Strong<NSError>& error) {
        if (error) device::countActivity(device::Activity::writesFailed);
        if (held) (*held)(error.get());
    };
    std::shared_ptr<const CharacteristicBackend> backend = this->backend();
    Strong<NSError> refusal;
    ValueCheck check;
    if (!backend || !backend->accessory) {
        refusal = device::homeKitError(HMErrorCodeAccessoryNotReachable, "the characteristic belongs to no accessory");
    } else {
        check = checkCharacteristicValue(backend->limits ? &*backend->limits : nullptr, value);
        if (!check.accepted())
            refusal = device::homeKitError(homeKitCode(check.problem), "\"" + backend->accessory->name() + "\" " +
                                                                           backend->typeName + ": " + check.reason);
    }
    if (refusal) {
        dispatch_async(homeKitQueue(), makeBlock([finish, refusal] { finish(refusal); }));
        return;
    }
    std::string what = "\"" + backend->accessory->name() + "\" " + backend->typeName;
    backend->accessory->write(backend->address, check.value.get(),
                              [finish, what](device::WriteResult result) { finish(errorFor(result, what)); });
}

std::string HMCharacteristic::description() const {
    std::shared_ptr<const CharacteristicBackend> backend = this->backend();
    return "<HMCharacteristic " + (backend ? backend->typeName : std::string("?")) + " " +
           (identifier_ ? identifier_->description() : std::string()) + ">";
}
