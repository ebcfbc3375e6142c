// NSBundle: the process's main bundle and its identifier.
#pragma once

#include <objc/runtime.h>

#include "NSString.h"

class NSBundle : public NSObject {
public:
    static Class objcClass();
    static NSBundle* mainBundle();

    // The bundle identifier, lent; nil in a process that has none.
    NSString* bundleIdentifier() const { return identifier_.get(); }

    // Device only: the process set-up names its bundle before anything loads. Not thread-safe;
    // call before starting threads.
    static void setMainBundleIdentifier(const char* identifier);

private:
    Strong<NSString> identifier_;
};
