#include "HMHomeManager.h"

#include <Foundation/DeviceDirectory.h>

#include "HomeGraph.h"
#include "HomeKitQueue.h"

namespace {

id Manager_init(id self, SEL) { return static_cast<HMHomeManager*>(self)->init(); }
id Manager_homes(id self, SEL) { return static_cast<HMHomeManager*>(self)->homes(); }
id Manager_primaryHome(id self, SEL) { return static_cast<HMHomeManager*>(self)->primaryHome(); }
id Manager_delegate(id self, SEL) { return static_cast<HMHomeManager*>(self)->delegate(); }
void Manager_setDelegate(id self, SEL, id delegate) { static_cast<HMHomeManager*>(self)->setDelegate(delegate); }

}  // namespace

Class HMHomeManager::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMHomeManager>("HMHomeManager", NSObject::objcClass());
        class_addMethod(c, sel_registerName("init"), reinterpret_cast<IMP>(Manager_init), "@16@0:8");
        class_addMethod(c, sel_registerName("homes"), reinterpret_cast<IMP>(Manager_homes), "@16@0:8");
        class_addMethod(c, sel_registerName("primaryHome"), reinterpret_cast<IMP>(Manager_primaryHome), "@16@0:8");
        class_addMethod(c, sel_registerName("delegate"), reinterpret_cast<IMP>(Manager_delegate), "@16@0:8");
        class_addMethod(c, sel_registerName("setDelegate:"), reinterpret_cast<IMP>(Manager_setDelegate), "v24@0:8@16");
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
