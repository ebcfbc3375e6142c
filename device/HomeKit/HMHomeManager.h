// HMHomeManager: the way into HomeKit. It loads the device's homes and hands them out.
//
// As on iOS, a new manager has no homes: `init` starts loading the home description (on the
// HomeKit queue) and the homes arrive shortly after on the main queue, so the main run loop must
// run for them to arrive. Then, if a delegate is set and answers it, the delegate is sent
// `homeManagerDidUpdateHomes:`. A missing or malformed description gives no homes (the reason
// is logged with NSLog once).
//
// `homes`, `primaryHome` and the delegate belong to the main thread. The objects reached from the
// homes are built once per manager, so every walk meets the same objects.
#pragma once

#include "../Foundation/Foundation.h"

#include "HMHome.h"

class HMHomeManager : public NSObject {
public:
    HMHomeManager();
    static Class objcClass();

    // `[HMHomeManager alloc]`: a manager the caller owns, to be started by `init`.
    static HMHomeManager* alloc();
    // Starts loading the homes of the device directory current at this call and returns the
    // receiver (the reference passes through). Calling it again does nothing more.
    HMHomeManager* init();

    // The HMHome objects, lent; an empty array until the homes arrive. The array is replaced,
    // never changed, and only on the main queue. Main thread.
    NSArray* homes() const { return homes_.get(); }
    // The home marked primary in the description, else the first; nil until the homes arrive or
    // when there are none. Lent. Main thread.
    HMHome* primaryHome() const { return primaryHome_.get(); }

    // The delegate is not retained (it is weak on iOS): its owner clears it before it goes.
    // Main thread.
    id delegate() const { return delegate_; }
    void setDelegate(id delegate) { delegate_ = delegate; }

private:
    void deliver(const Strong<NSArray>& homes);

    bool started_ = false;
    Strong<NSArray> homes_;
    Strong<HMHome> primaryHome_;
    id delegate_ = nil;
};
