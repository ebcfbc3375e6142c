// HMCharacteristic: one value of a service (power, brightness, hue, ...), and the way to change it
// on the accessory.
//
// Made by HMHomeManager when homes load and never changed after, except for `value`, which
// completed writes update from the HomeKit queue: `value` may be read from any thread (under a
// lock), and `writeValue_completionHandler` may be called from any thread. Characteristics are
// equal only to themselves, so they may be dictionary keys.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "../Foundation/Foundation.h"

#include "HMCharacteristicMetadata.h"

class HMService;
struct CharacteristicBackend;

namespace device {
struct HomeKitDevice;
}

class HMCharacteristic : public NSObject {
public:
    HMCharacteristic();
    ~HMCharacteristic() override;
    static Class objcClass();

    // Each is lent for as long as the characteristic lives.
    NSString* characteristicType() const { return type_.get(); }
    NSUUID* uniqueIdentifier() const { return identifier_.get(); }
    HMCharacteristicMetadata* metadata() const { return metadata_.get(); }
    // The service holding this characteristic, lent; nil once that service is gone.
    HMService* service() const { return service_.load(); }

    // The last value HomeKit knows: the accessory's when the homes were loaded, then that of each
    // successful write of this process. nil when unknown. The caller shares the value; through
    // the run-time (`value`) the caller owns a reference, as a lent one could go at any time.
    Strong<NSObject> value() const;

    // Asks the accessory to take `value` and returns at once. After the accessory's latency, on
    // the HomeKit queue (never the main thread), `completion` is called exactly once: with nil when
    // the value is stored in the accessory's state (and `value` returns it from then on), or with
    // an error of HMErrorDomain when the value does not suit the metadata (nothing changes), the
    // accessory fails (HMErrorCodeCommunicationFailure) or does not answer within its timeout
    // (HMErrorCodeOperationTimedOut). `value` and `completion` are retained until then; a nil
    // completion is allowed. The write completes even when the homes are released meanwhile.
    void writeValue_completionHandler(id value, Block<void(NSError*)>* completion);

    std::string description() const override;

private:
    friend struct device::HomeKitDevice;

    void writeToRealAccessory(const Strong<NSObject>& value, const Strong<Block<void(NSError*)>>& completion);
    void finishWrite(const Strong<NSObject>& value, const Strong<Block<void(NSError*)>>& completion);

    Strong<NSString> type_;
    Strong<NSUUID> identifier_;
    Strong<HMCharacteristicMetadata> metadata_;
    std::shared_ptr<const CharacteristicBackend> backend_;
    std::atomic<HMService*> service_{nullptr};
    bool countsLightReads_ = false;

    mutable std::mutex valueLock_;  // guards value_
    Strong<NSObject> value_;
};
