#include "HomeManager.h"

#include <dispatch/dispatch.h>

#include "platform/Settings.h"

namespace {

id sharedManagerMethod(id, SEL) { return HomeManager::sharedManager(); }
id initMethod(id self, SEL) { return static_cast<HomeManager*>(self)->init(); }
void sendMethod(id self, SEL, id colours) { static_cast<HomeManager*>(self)->send(objc_cast<NSArray>(colours)); }

// The members the run-time sees, laid down with the class as a compiler lays down a class's own.
void addMembers(Class c) {
    Class meta = object_getClass(c);
    class_addMethod(meta, sel_registerName("sharedManager"), reinterpret_cast<IMP>(sharedManagerMethod), "@16@0:8");
    objc_property_attribute_t attributes[] = {{"T", "@\"HomeManager\""}, {"R", ""}, {"N", ""}};
    class_addProperty(meta, "sharedManager", attributes, 3);
    class_addMethod(c, sel_registerName("init"), reinterpret_cast<IMP>(initMethod), "@16@0:8");
    class_addMethod(c, sel_registerName("send:"), reinterpret_cast<IMP>(sendMethod), "v24@0:8@16");
}

}  // namespace

Class HomeManager::objcClass() {
    static Class cls = objc_defineClass<HomeManager>("HomeManager", NSObject::objcClass(), addMembers);
    return cls;
}

HomeManager* HomeManager::sharedManager() {
    static dispatch_once_t once = 0;
    static HomeManager* shared = nullptr;
    dispatch_once(&once, makeBlock([] {
        id instance = objc_msgSend<id>(objcClass(), SEL_(alloc));
        shared = static_cast<HomeManager*>(objc_msgSend<id>(instance, SEL_(init)));
    }));
    return shared;
}

HomeManager* HomeManager::init() {
    manager_ = Strong<HMHomeManager>::adopt(HMHomeManager::alloc()->init());
    preferences_ =
        Strong<HBPreferences>::adopt(HBPreferences::alloc()->initWithIdentifier(glimmoraSettingsIdentifier()));
    setUpdating({});
    objc_msgSendSuper<id>(objcClass(), this, SEL_(init));

    Strong<HomeManager> self(this);
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 2 * NSEC_PER_SEC), dispatch_get_main_queue(),
                   makeBlock([self] { self->saveHomesAndRooms(); }));
    return this;
}

void HomeManager::send(NSArray* colours) {
    std::vector<Strong<UIColor>> list;
    if (colours != nil) {
        list.reserve(colours->count());
        for (const Strong<NSObject>& element : *colours)
            if (UIColor* colour = objc_cast<UIColor>(element.get())) list.emplace_back(colour);
    }
    applyColors(list);
}

bool HomeManager::hasPrimaryHome() { return manager_->primaryHome() != nil; }

UpdatingTable HomeManager::updating() {
    std::lock_guard<std::mutex> hold(updatingLock_);
    return updating_;
}

void HomeManager::setUpdating(UpdatingTable table) {
    std::lock_guard<std::mutex> hold(updatingLock_);
    updating_.swap(table);
    // The old table's references go when `table` does, outside the lock.
}

void HomeManager::modifyUpdating(const std::function<void(UpdatingTable&)>& change) {
    std::lock_guard<std::mutex> hold(updatingLock_);
    change(updating_);
}

bool HomeManager::isInFlight(HMCharacteristic* characteristic) {
    bool inFlight = false;
    modifyUpdating([&](UpdatingTable& table) {
        auto entry = table.find(Strong<HMCharacteristic>(characteristic));
        inFlight = entry != table.end() && entry->second;
    });
    return inFlight;
}

void HomeManager::markInFlight(HMCharacteristic* characteristic, bool inFlight) {
    modifyUpdating([&](UpdatingTable& table) { table[Strong<HMCharacteristic>(characteristic)] = inFlight; });
}
