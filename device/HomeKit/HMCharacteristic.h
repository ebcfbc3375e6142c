// HMCharacteristic: one value of a service (power, brightness, hue, ...), and the way to change it
// on the accessory.
//
// Made by HMHomeManager when homes load. A reloaded home keeps the characteristic (the same object)
// while its identifier stays, and may give it new metadata (on the main queue) and a new accessory
// link. `value` comes from the accessory's link, the one place HomeKit keeps it: it may be read
// from any thread, and `writeValue_completionHandler` may be called from any thread.
// Characteristics are equal only to themselves, so they may be dictionary keys.
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
    // Lent; replaced only on the main queue, when a reloaded home changes it.
    HMCharacteristicMetadata* metadata() const { return metadata_.get(); }
    // The service holding this characteristic, lent; nil once that service is gone.
    HMService* service() const { return service_.load(); }

    // The last value HomeKit knows: the accessory's when the homes were loaded, then that of each
    // write the accessory took and, for a real lamp, each value it reported. nil when unknown. The
    // caller shares the value; through the run-time (`value`) the caller owns a reference, as a
    // lent one could go at any time.
    Strong<NSObject> value() const;

    // Asks the accessory to take `value` and returns at once. The value goes through the one value
    // rule (homes/CharacteristicValue.h): refused when it does not suit the metadata (nothing is
    // sent), else fitted to the step grid. When the accessory has answered, on the HomeKit queue
    // (never the main thread), `completion` is called exactly once: with nil when the accessory
    // took the value (and `value` returns it from then on), or with an error of HMErrorDomain:
    // the refusal's code, the accessory's own status turned into HomeKit's code, or why it could
    // not be reached (HMErrorCodeAccessoryNotReachable), did not answer in time
    // (HMErrorCodeOperationTimedOut) or failed (HMErrorCodeCommunicationFailure). `value` and
    // `completion` are retained until then; a nil completion is allowed. The write completes even
    // when the homes are released meanwhile.
    void writeValue_completionHandler(id value, Block<void(NSError*)>* completion);

    std::string description() const override;

private:
    friend struct device::HomeKitDevice;

    std::shared_ptr<const CharacteristicBackend> backend() const;

    Strong<NSString> type_;
    Strong<NSUUID> identifier_;
    Strong<HMCharacteristicMetadata> metadata_;
    std::atomic<HMService*> service_{nullptr};
    std::atomic<bool> countsLightReads_{false};

    mutable std::mutex backendLock_;  // guards backend_
    std::shared_ptr<const CharacteristicBackend> backend_;
};
