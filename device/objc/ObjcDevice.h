// The device's own side of the run-time, which iOS keeps to itself: an object's reference count.
// Device only; the system never sees it. Any thread.
#pragma once

#include <cstdint>

#include "NSObject.h"

namespace device {

// A friend of NSObject: the one way in to what it keeps private.
struct ObjcDevice {
    // The current reference count of `obj`, for tests and the tools; 0 for nil.
    static intptr_t retainCount(id obj);
};

}  // namespace device

// The same, by the run-time's name.
inline intptr_t objc_retainCount(id obj) { return device::ObjcDevice::retainCount(obj); }
