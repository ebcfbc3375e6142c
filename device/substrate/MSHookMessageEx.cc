#include "substrate.h"

void MSHookMessageEx(Class cls, SEL selector, IMP replacement, IMP* result) {
    class_hookMethod(cls, selector, replacement, result);
}
