// The browser of HomeKit accessories (`_hap._tcp`) a process shares: made by the first that asks,
// ended when the last holder lets it go. Any thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "../base/StatusOr.h"
#include "HapAdvertisement.h"
#include "ServiceBrowser.h"

namespace device::dnssd {

// The process's browser, started if none runs; an error when it cannot start (ServiceBrowser::start).
StatusOr<std::shared_ptr<ServiceBrowser>> sharedHapBrowser();

// Waits at most `patience` for an accessory `wanted` accepts (checking those already seen first),
// and returns it; nothing when none came in time.
std::optional<HapAdvertisement> waitForAccessory(ServiceBrowser& browser,
                                                 const std::function<bool(const HapAdvertisement&)>& wanted,
                                                 std::chrono::milliseconds patience);

}  // namespace device::dnssd
