// The code-injection framework's interface: method hooking.
#pragma once

#include "../objc/runtime.h"

// Replaces the implementation of `selector` on `cls` with `replacement`, storing the implementation
// it replaces in `*result` before the replacement can be reached by any call. A method that `cls`
// only inherits is hooked on `cls` alone; its superclass keeps the original. When `cls` is Nil or
// does not answer `selector`, nothing changes and `*result` is left as it was.
void MSHookMessageEx(Class cls, SEL selector, IMP replacement, IMP* result);
