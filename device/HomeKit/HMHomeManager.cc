#include "HMHomeManager.h"

#include <atomic>

#include "../Foundation/DeviceDirectory.h"

#include "../homes/HomeDescriptionWatcher.h"
#include "../objc/MethodRegistration.h"
#include "HMAccessory.h"
#include "HomeGraph.h"
#include "HomeKitDevice.h"
#include "HomeKitQueue.h"

// The graph lives on the HomeKit queue; `manager` is read and cleared on the main thread only, so a
// load finishing after the manager went delivers to nobody.
struct HMHomeManager::Reloads {
    std::unique_ptr<HomeGraph> graph;       // HomeKit queue
    std::atomic<bool> reloadQueued{false};  // a change is waiting for the HomeKit queue
    HMHomeManager* manager = nullptr;       // main thread
};

Class HMHomeManager::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMHomeManager>("HMHomeManager", NSObject::objcClass());
        objc_addInstanceMethod<&HMHomeManager::init>(c, "init");
        objc_addInstanceMethod<&HMHomeManager::homes>(c, "homes");
        objc_addInstanceMethod<&HMHomeManager::primaryHome>(c, "primaryHome");
        objc_addInstanceMethod<&HMHomeManager::delegate>(c, "delegate");
        objc_addInstanceMethod<&HMHomeManager::setDelegate>(c, "setDelegate:");
        return c;
    }();
    return cls;
}

HMHomeManager::HMHomeManager() : homes_(NSArray::array()) {}

HMHomeManager::~HMHomeManager() {
    watcher_.reset();
    if (reloads_) {
        reloads_->manager = nullptr;
        // The graph closes its links where it lives.
        std::shared_ptr<Reloads> reloads = std::move(reloads_);
        dispatch_async(homeKitQueue(), makeBlock([reloads] { reloads->graph.reset(); }));
    }
}

HMHomeManager* HMHomeManager::alloc() { return makeObject<HMHomeManager>().detach(); }

HMHomeManager* HMHomeManager::init() {
    if (started_) return this;
    started_ = true;
    std::string directory = device::deviceDirectory();
    reloads_ = std::make_shared<Reloads>();
    reloads_->manager = this;
    std::weak_ptr<Reloads> weak = reloads_;
    // A reachability change reaches the accessory's delegate on the main queue.
    reloads_->graph = std::make_unique<HomeGraph>(directory, [](HMAccessory* accessory, bool reachable) {
        Strong<HMAccessory> held(accessory);
        dispatch_async(dispatch_get_main_queue(), makeBlock([held, reachable] {
                           device::HomeKitDevice::updateReachability(held.get(), reachable);
                       }));
    });

    auto load = [weak](bool first) {
        std::shared_ptr<Reloads> reloads = weak.lock();
        if (!reloads || !reloads->graph) return;
        reloads->reloadQueued = false;
        std::string warning;
        HomeGraph::Update update = reloads->graph->load(&warning);
        if (!update.problem.ok()) {
            if (first)
                NSLog("HomeKit: %s", update.problem.message().c_str());
            else
                NSLog("HomeKit: the changed home description was not loaded, so the home stays as it was: %s",
                      update.problem.message().c_str());
            if (!first) return;
            update.homes = NSArray::array();
        }
        if (!warning.empty()) NSLog("HomeKit: %s", warning.c_str());
        Strong<NSArray> homes = update.homes;
        std::function<void()> apply = std::move(update.apply);
        dispatch_async(dispatch_get_main_queue(), makeBlock([weak, homes, apply] {
                           if (apply) apply();
                           std::shared_ptr<Reloads> reloads = weak.lock();
                           if (reloads && reloads->manager) reloads->manager->deliver(homes);
                       }));
    };
    dispatch_async(homeKitQueue(), makeBlock([load] { load(true); }));

    auto watcher = device::HomeDescriptionWatcher::start(directory, [weak, load] {
        std::shared_ptr<Reloads> reloads = weak.lock();
        // One reload answers every change made before it starts.
        if (!reloads || reloads->reloadQueued.exchange(true)) return;
        dispatch_async(homeKitQueue(), makeBlock([load] { load(false); }));
    });
    if (watcher.ok())
        watcher_ = *std::move(watcher);
    else
        NSLog("HomeKit: changes of the home will not be seen until the next launch: %s",
              watcher.status().message().c_str());
    return this;
}

void HMHomeManager::deliver(const Strong<NSArray>& homes) {
    homes_ = homes;
    primaryHome_ = nullptr;
    for (const auto& object : *homes) {
        auto* home = static_cast<HMHome*>(object.get());
        if (home->isPrimary()) primaryHome_ = home;
    }
    SEL didUpdate = SEL_(homeManagerDidUpdateHomes:);
    if (delegate_ && class_respondsToSelector(object_getClass(delegate_), didUpdate))
        objc_msgSend<void>(delegate_, didUpdate, static_cast<id>(this));
}
