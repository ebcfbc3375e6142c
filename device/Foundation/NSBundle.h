// NSBundle: the process's main bundle and its identifier.
#pragma once

#include "../objc/runtime.h"

#include "NSString.h"

namespace device {
struct FoundationDevice;
}

class NSBundle : public NSObject {
public:
    static Class objcClass();
    static NSBundle* mainBundle();

    // The bundle identifier, lent; nil in a process that has none.
    NSString* bundleIdentifier() const { return identifier_.get(); }

private:
    friend struct device::FoundationDevice;

    Strong<NSString> identifier_;
};
