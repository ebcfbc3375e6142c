// CALayer: the base of the device's layers.
#pragma once

#include "../objc/runtime.h"

class CALayer : public NSObject {
public:
    static Class objcClass();
};
