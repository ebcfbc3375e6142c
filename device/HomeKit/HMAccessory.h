// HMAccessory: one device of the home (a lamp, a fan, a plug) with its services.
//
// Made by HMHomeManager when homes load and never changed after; safe to read from any thread.
#pragma once

#include <atomic>

#include "../Foundation/Foundation.h"

class HMRoom;
namespace device {
struct HomeKitDevice;
}

class HMAccessory : public NSObject {
public:
    HMAccessory() = default;
    ~HMAccessory() override;
    static Class objcClass();

    // Each is lent for as long as the accessory lives.
    NSString* name() const { return name_.get(); }
    NSUUID* uniqueIdentifier() const { return identifier_.get(); }
    // The HMService objects, in the order the home description gives them.
    NSArray* services() const { return services_.get(); }
    // The room holding this accessory, lent; nil once that room is gone.
    HMRoom* room() const { return room_.load(); }
    // NO for an accessory that never answers.
    BOOL isReachable() const { return reachable_; }

private:
    friend struct device::HomeKitDevice;

    Strong<NSString> name_;
    Strong<NSUUID> identifier_;
    Strong<NSArray> services_;
    std::atomic<HMRoom*> room_{nullptr};
    bool reachable_ = true;
};
