#include "CABase.h"

#include "../Foundation/NSRunLoop.h"

CFTimeInterval CACurrentMediaTime() {
    return std::chrono::duration<double>(RunLoopClock::now().time_since_epoch()).count();
}
