// CFBoolean: the two immortal Core Foundation Boolean objects, the values of Boolean properties
// (VTSessionSetProperty, ...). Shared freely between threads; retaining and releasing them is
// allowed and has no effect on their life.
#pragma once

#include "CFBase.h"

typedef const struct __CFBoolean* CFBooleanRef;

extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;

// The value of `boolean`; false for nullptr.
Boolean CFBooleanGetValue(CFBooleanRef boolean);
