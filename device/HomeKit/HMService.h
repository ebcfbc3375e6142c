// HMService: one function of an accessory (a lightbulb, a fan, an outlet, ...) and its
// characteristics.
//
// Made by HMHomeManager when homes load and never changed after; safe to read from any thread.
#pragma once

#include <atomic>

#include <Foundation/Foundation.h>

class HMAccessory;

class HMService : public NSObject {
public:
    HMService() = default;
    ~HMService() override;
    static Class objcClass();

    // Device only: a service holding `characteristics` (HMCharacteristic objects), which take it
    // as their service.
    static Strong<HMService> make(NSString* type, NSString* name, NSUUID* identifier, NSArray* characteristics);
    // Device only: set once by the accessory that holds it, and cleared when that accessory goes.
    void setAccessory(HMAccessory* accessory) { accessory_.store(accessory); }

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
    Strong<NSString> type_;
    Strong<NSString> name_;
    Strong<NSUUID> identifier_;
    Strong<NSArray> characteristics_;
    uint64_t lightCharacteristics_ = 0;  // how many characteristics() counts as offered
    std::atomic<HMAccessory*> accessory_{nullptr};
};
