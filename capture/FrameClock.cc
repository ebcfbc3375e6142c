#include "FrameClock.h"

namespace frameClock {

IMP previousViewDidAppear = nullptr;
IMP previousViewWillDisappear = nullptr;
IMP previousViewDidDisappear = nullptr;
IMP previousDealloc = nullptr;

namespace {
using AppearanceCall = void (*)(id, SEL, BOOL);
using DeallocCall = void (*)(id, SEL);
}  // namespace

void viewDidAppear(id self, SEL _cmd, BOOL animated) {
    reinterpret_cast<AppearanceCall>(previousViewDidAppear)(self, _cmd, animated);
}

void viewWillDisappear(id self, SEL _cmd, BOOL animated) {
    reinterpret_cast<AppearanceCall>(previousViewWillDisappear)(self, _cmd, animated);
}

void viewDidDisappear(id self, SEL _cmd, BOOL animated) {
    reinterpret_cast<AppearanceCall>(previousViewDidDisappear)(self, _cmd, animated);
}

void dealloc(id self, SEL _cmd) { reinterpret_cast<DeallocCall>(previousDealloc)(self, _cmd); }

void update(id, SEL) {}

}  // namespace frameClock
