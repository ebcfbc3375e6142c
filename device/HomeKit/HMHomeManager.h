// HMHomeManager: the way into HomeKit. It loads the device's homes, hands them out, and keeps them
// up to date as the platform's does.
//
// As on iOS, a new manager has no homes: `init` starts loading the home description (on the
// HomeKit queue) and the homes arrive shortly after on the main queue, so the main run loop must
// run for them to arrive. Then, if a delegate is set and answers it, the delegate is sent
// `homeManagerDidUpdateHomes:`. A missing or malformed description gives no homes (the reason
// is logged with NSLog once).
//
// From then on the manager watches the home description. When it changes (a `glimmora home`
// command installed a new one) the homes are loaded again and updated in place: homes, rooms,
// accessories, services and characteristics that stay are the same objects with their contents
// brought up to date, new ones are added and those gone are removed (a real lamp's session opens
// or closes with it), and the delegate is sent `homeManagerDidUpdateHomes:` again, on the main
// queue as on the platform. A description that cannot be used leaves the homes as they were, with
// one log line. An accessory's reachability is kept up to date as well (HMAccessory.h).
//
// `homes`, `primaryHome` and the delegate belong to the main thread, as do the homes' contents;
// the manager is released there too.
#pragma once

#include <memory>

#include "../Foundation/Foundation.h"

#include "HMHome.h"

class HomeGraph;
namespace device {
class HomeDescriptionWatcher;
}

class HMHomeManager : public NSObject {
public:
    HMHomeManager();
    ~HMHomeManager() override;
    static Class objcClass();

    // `[HMHomeManager alloc]`: a manager the caller owns, to be started by `init`.
    static HMHomeManager* alloc();
    // Starts loading the homes of the device directory current at this call, and watching them,
    // and returns the receiver (the reference passes through). Calling it again does nothing more.
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
    struct Reloads;  // what the watcher and the HomeKit queue share with the manager
    void deliver(const Strong<NSArray>& homes);

    bool started_ = false;
    Strong<NSArray> homes_;
    Strong<HMHome> primaryHome_;
    id delegate_ = nil;
    std::shared_ptr<Reloads> reloads_;
    std::unique_ptr<device::HomeDescriptionWatcher> watcher_;
};
