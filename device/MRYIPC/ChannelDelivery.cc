#include "ChannelDelivery.h"

#include <cstdlib>
#include <cstring>
#include <exception>

namespace device::ipc {

namespace {

// The kind of one type the run-time reports, qualifiers and class name dropped: 'v', '@', ':', ...;
// a block is '?': an object, but not one a call can carry. 0 for no type.
char kindOf(char* type) {
    const char* p = type ? type : "";
    while (*p && std::strchr("rnNoORV", *p)) ++p;
    char kind = *p == '@' && p[1] == '?' ? '?' : *p;
    std::free(type);
    return kind;
}

// The shape of a method a channel can call: "v@:@", "@@:@", "v@:" or "@@:" (return, self, _cmd and
// at most one argument).
std::string callShape(Method method) {
    std::string shape(1, kindOf(method_copyReturnType(method)));
    unsigned count = method_getNumberOfArguments(method);
    for (unsigned index = 0; index < count; ++index) shape += kindOf(method_copyArgumentType(method, index));
    return shape;
}

}  // namespace

StatusOr<Strong<NSObject>> deliverCall(id target, SEL action, id argument) {
    Method method = class_getInstanceMethod(object_getClass(target), action);
    if (method == nullptr)
        return Status::error(std::string(object_getClassName(target)) + " does not answer " + sel_getName(action));
    std::string kinds = callShape(method);
    try {
        if (kinds == "v@:@") {
            objc_msgSend<void, id>(target, action, argument);
            return nil;
        }
        if (kinds == "@@:@") return Strong<NSObject>(objc_msgSend<id, id>(target, action, argument));
        if (kinds == "v@:") {
            objc_msgSend<void>(target, action);
            return nil;
        }
        if (kinds == "@@:") return Strong<NSObject>(objc_msgSend<id>(target, action));
    } catch (const std::exception& exception) {
        return Status::error(std::string(sel_getName(action)) + " threw: " + exception.what());
    } catch (...) {
        return Status::error(std::string(sel_getName(action)) + " threw");
    }
    return Status::error(std::string(sel_getName(action)) + " has the type " + method_getTypeEncoding(method) +
                         "; a channel action takes at most one object and returns an object or nothing");
}

}  // namespace device::ipc
