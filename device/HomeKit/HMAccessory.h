// HMAccessory: one device of the home (a lamp, a fan, a plug) with its services.
//
// Made by HMHomeManager when homes load. A reloaded home keeps the accessory (the same object) while
// its identifier stays, and replaces its name and services on the main queue: read them there, or
// hold what was read. `reachable` may be read from any thread.
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
    // Whether the accessory answers, as HomeKit last found: NO for a simulated accessory that never
    // answers, and for a real one while its session is lost. Changes on the main queue, and then
    // the delegate is sent `accessoryDidUpdateReachability:` (when it answers it).
    BOOL isReachable() const { return reachable_.load(); }

    // The delegate is not retained (it is weak on iOS): its owner clears it before it goes.
    // Main thread.
    id delegate() const { return delegate_; }
    void setDelegate(id delegate) { delegate_ = delegate; }

private:
    friend struct device::HomeKitDevice;

    Strong<NSString> name_;
    Strong<NSUUID> identifier_;
    Strong<NSArray> services_;
    std::atomic<HMRoom*> room_{nullptr};
    std::atomic<bool> reachable_{true};
    id delegate_ = nil;
};
