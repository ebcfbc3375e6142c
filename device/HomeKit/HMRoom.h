// HMRoom: a room of a home and the accessories in it.
//
// Made by HMHomeManager when homes load. A reloaded home keeps the room (the same object) while its
// identifier stays, and replaces its name and accessories on the main queue: read them there, or
// hold what was read.
#pragma once

#include "../Foundation/Foundation.h"

namespace device {
struct HomeKitDevice;
}

class HMRoom : public NSObject {
public:
    HMRoom() = default;
    ~HMRoom() override;
    static Class objcClass();

    // Each is lent for as long as the room lives.
    NSString* name() const { return name_.get(); }
    NSUUID* uniqueIdentifier() const { return identifier_.get(); }
    // The HMAccessory objects, in the order the home description gives them.
    NSArray* accessories() const { return accessories_.get(); }

private:
    friend struct device::HomeKitDevice;

    Strong<NSString> name_;
    Strong<NSUUID> identifier_;
    Strong<NSArray> accessories_;
};
