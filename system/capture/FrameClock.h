// The full-screen player's frame clock: hooks on AVFullScreenViewController and its `update` tick.
#pragma once

#include <objc/runtime.h>

namespace frameClock {

// Previous implementations, filled in when the hooks are installed.
extern IMP previousViewDidAppear;
extern IMP previousViewWillDisappear;
extern IMP previousViewDidDisappear;
extern IMP previousDealloc;

void viewDidAppear(id self, SEL _cmd, BOOL animated);
void viewWillDisappear(id self, SEL _cmd, BOOL animated);
void viewDidDisappear(id self, SEL _cmd, BOOL animated);
void dealloc(id self, SEL _cmd);
// One tick of the clock.
void update(id self, SEL _cmd);

}  // namespace frameClock
