// HMService: one function of an accessory (a lightbulb, a fan, an outlet, ...) and its
// characteristics.
//
// Made by HMHomeManager when homes load. A reloaded home keeps the service (the same object) while
// its identifier and type stay, and replaces its name and characteristics on the main queue: read
// them there, or hold what was read.
#pragma once

#include <atomic>

#include "../Foundation/Foundation.h"

class HMAccessory;
namespace device {
struct HomeKitDevice;
}

class HMService : public NSObject {
public:
    HMService() = default;
    ~HMService() override;
    static Class objcClass();

    // Each is lent for as long as the service lives.
    NSString* serviceType() const { return type_.get(); }
    NSString* name() const { return name_.get(); }
    NSUUID* uniqueIdentifier() const { return identifier_.get(); }
    // The HMCharacteristic objects, in the order the home description gives them. A lightbulb
    // counts its power, brightness, saturation and hue as offered in the process's activity.
    NSArray* characteristics() const;
    // The accessory holding this service, lent; nil once that accessory is gone.
    HMAccessory* accessory() const { return accessory_.load(); }

private:
    friend struct device::HomeKitDevice;

    Strong<NSString> type_;
    Strong<NSString> name_;
    Strong<NSUUID> identifier_;
    Strong<NSArray> characteristics_;
    uint64_t lightCharacteristics_ = 0;  // how many characteristics() counts as offered
    std::atomic<HMAccessory*> accessory_{nullptr};
};
