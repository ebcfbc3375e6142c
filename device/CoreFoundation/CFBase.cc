#include "CFBase.h"

#include "CFRuntime.h"

namespace {

CFRuntimeBase* runtimeBase(CFTypeRef cf) { return static_cast<CFRuntimeBase*>(const_cast<void*>(cf)); }

}  // namespace

CFTypeRef CFRetain(CFTypeRef cf) {
    if (cf) runtimeBase(cf)->refCount_.fetch_add(1, std::memory_order_relaxed);
    return cf;
}

void CFRelease(CFTypeRef cf) {
    if (!cf) return;
    CFRuntimeBase* object = runtimeBase(cf);
    // acq_rel: the thread that destroys the object must see every other thread's last use of it.
    if (object->refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete object;
}

CFIndex CFGetRetainCount(CFTypeRef cf) { return cf ? runtimeBase(cf)->refCount_.load(std::memory_order_relaxed) : 0; }
