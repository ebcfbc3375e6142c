#include "ChannelDelivery.h"

#include <cctype>
#include <cstring>
#include <exception>

namespace device::ipc {

namespace {

// The kinds of one method's type string, with sizes, offsets, qualifiers and class names dropped:
// "v24@0:8@16" and "v@:@\"NSString\"" both give "v@:@".
std::string typeKinds(const char* types) {
    std::string kinds;
    for (const char* p = types ? types : ""; *p;) {
        if (std::isdigit(static_cast<unsigned char>(*p)) || *p == '-' || std::strchr("rnNoORV", *p)) {
            ++p;
            continue;
        }
        if (*p == '"') {  // a class name after '@'
            const char* end = std::strchr(p + 1, '"');
            p = end ? end + 1 : p + std::strlen(p);
            continue;
        }
        if (*p == '@' && p[1] == '?') {  // a block: an object, but not one a call can carry
            kinds += '?';
            p += 2;
            continue;
        }
        kinds += *p++;
    }
    return kinds;
}

}  // namespace

Strong<NSObject> deliverCall(id target, SEL action, id argument, std::string* problem) {
    Method method = class_getInstanceMethod(object_getClass(target), action);
    if (method == nullptr) {
        if (problem) *problem = std::string(object_getClassName(target)) + " does not answer " + sel_getName(action);
        return nil;
    }
    std::string kinds = typeKinds(method_getTypeEncoding(method));
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
        if (problem) *problem = std::string(sel_getName(action)) + " threw: " + exception.what();
        return nil;
    } catch (...) {
        if (problem) *problem = std::string(sel_getName(action)) + " threw";
        return nil;
    }
    if (problem)
        *problem = std::string(sel_getName(action)) + " has the type " + method_getTypeEncoding(method) +
                   "; a channel action takes at most one object and returns an object or nothing";
    return nil;
}

}  // namespace device::ipc
