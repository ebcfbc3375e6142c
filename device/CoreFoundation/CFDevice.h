// The device's own additions to Core Foundation, with no iOS counterpart: telling a Boolean object
// among any objects, and strings that are never destroyed. Device only; the system never sees it.
#pragma once

#include "CFBoolean.h"
#include "CFString.h"

// `value` as a CFBooleanRef when it is one of the two objects, else nullptr. Any Core Foundation
// object of the device may be passed; nullptr gives nullptr.
CFBooleanRef CFBooleanFromTypeRef(CFTypeRef value);

// A new string that is never destroyed, for the constant keys kept in globals.
CFStringRef CFStringMakeConstant(const char* text);
