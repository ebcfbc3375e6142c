// The device's own side of Foundation, which iOS keeps to itself: how a process names its bundle
// and where NSLog's lines go. Device only; the system never sees it.
#pragma once

#include <string>

#include "NSBundle.h"

namespace device {

// A friend of NSBundle: the one way in to what it keeps private.
struct FoundationDevice {
    // The process set-up names its bundle before anything loads. Not thread-safe; call before
    // starting threads.
    static void setMainBundleIdentifier(const char* identifier);
};

// The path of the device's system log.
std::string systemLogPath();

}  // namespace device
