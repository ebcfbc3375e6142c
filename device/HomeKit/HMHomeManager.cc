#include "HMHomeManager.h"

#include "../Foundation/DeviceDirectory.h"

#include "../objc/MethodRegistration.h"
#include "HomeGraph.h"
#include "HomeKitQueue.h"

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

HMHomeManager* HMHomeManager::alloc() { return makeObject<HMHomeManager>().detach(); }

HMHomeManager* HMHomeManager::init() {
    if (started_) return this;
    started_ = true;
    Strong<HMHomeManager> self(this);
    std::string directory = device::deviceDirectory();
    dispatch_async(homeKitQueue(), makeBlock([self, directory] {
                       LoadedHomes loaded = loadHomes(directory);
                       if (!loaded.problem.ok()) NSLog("HomeKit: %s", loaded.problem.message().c_str());
                       Strong<NSArray> homes = loaded.homes;
                       dispatch_async(dispatch_get_main_queue(), makeBlock([self, homes] { self->deliver(homes); }));
                   }));
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
