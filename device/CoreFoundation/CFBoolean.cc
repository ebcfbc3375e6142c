#include "CFBoolean.h"

#include "CFDevice.h"
#include "CFRuntime.h"

struct __CFBoolean : CFRuntimeBase {
    explicit __CFBoolean(bool v) : value(v) {}
    const bool value;
};

namespace {

// Made once and never destroyed: an extra reference nobody gives back keeps them alive.
CFBooleanRef immortal(bool value) { return static_cast<CFBooleanRef>(CFRetain(new __CFBoolean(value))); }

}  // namespace

const CFBooleanRef kCFBooleanTrue = immortal(true);
const CFBooleanRef kCFBooleanFalse = immortal(false);

Boolean CFBooleanGetValue(CFBooleanRef boolean) { return boolean != nullptr && boolean->value; }

CFBooleanRef CFBooleanFromTypeRef(CFTypeRef value) {
    return dynamic_cast<const __CFBoolean*>(static_cast<const CFRuntimeBase*>(value));
}
