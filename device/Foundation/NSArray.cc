#include "NSArray.h"

#include "NSString.h"

Class NSArray::objcClass() {
    static Class cls = objc_defineClass<NSArray>("NSArray", NSObject::objcClass());
    return cls;
}

Class NSMutableArray::objcClass() {
    static Class cls = objc_defineClass<NSMutableArray>("NSMutableArray", NSArray::objcClass());
    return cls;
}

Strong<NSArray> NSArray::array() { return makeObject<NSArray>(); }

Strong<NSArray> NSArray::arrayWithObjects(std::initializer_list<id> objects) {
    std::vector<Strong<NSObject>> list;
    for (id object : objects) {
        if (object) list.emplace_back(object);
    }
    return makeObject<NSArray>(std::move(list));
}

Strong<NSArray> NSArray::arrayWithVector(std::vector<Strong<NSObject>> objects) {
    std::erase_if(objects, [](const Strong<NSObject>& o) { return !o; });
    return makeObject<NSArray>(std::move(objects));
}

id NSArray::objectAtIndex(NSUInteger index) const {
    if (index >= objects_.size())
        NSException::raise(NSRangeException, "index " + std::to_string(index) + " beyond bounds of array of " +
                                                 std::to_string(objects_.size()));
    return objects_[index].get();
}

bool NSArray::isEqual(const NSObject* other) const {
    auto* array = dynamic_cast<const NSArray*>(other);
    if (array == nullptr || array->objects_.size() != objects_.size()) return false;
    for (size_t i = 0; i < objects_.size(); ++i) {
        if (!objects_[i]->isEqual(array->objects_[i].get())) return false;
    }
    return true;
}

std::string NSArray::description() const {
    std::string text = "(";
    for (size_t i = 0; i < objects_.size(); ++i) text += (i ? ", " : "") + objects_[i]->description();
    return text + ")";
}

void NSMutableArray::addObject(id object) {
    if (object) objects_.emplace_back(object);
}
