// HMHome: one home, its rooms and its accessories.
//
// Made by HMHomeManager when homes load. A reloaded home keeps the home (the same object) while its
// identifier stays, and replaces its name, rooms and accessories on the main queue: read them
// there, or hold what was read.
#pragma once

#include "../Foundation/Foundation.h"

namespace device {
struct HomeKitDevice;
}

class HMHome : public NSObject {
public:
    HMHome() = default;
    static Class objcClass();

    // Each is lent for as long as the home lives.
    NSString* name() const { return name_.get(); }
    NSUUID* uniqueIdentifier() const { return identifier_.get(); }
    // The HMRoom objects, in the order the home description gives them.
    NSArray* rooms() const { return rooms_.get(); }
    // Every HMAccessory of every room, room by room in order.
    NSArray* accessories() const { return accessories_.get(); }
    // YES for the home the manager calls primary.
    BOOL isPrimary() const { return primary_; }

private:
    friend struct device::HomeKitDevice;

    Strong<NSString> name_;
    Strong<NSUUID> identifier_;
    Strong<NSArray> rooms_;
    Strong<NSArray> accessories_;
    bool primary_ = false;
};
