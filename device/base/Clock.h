// The clock the device schedules by: steady, so that due times and timeouts are never moved by a
// change of the wall clock.
#pragma once

#include <chrono>

namespace device {

using SteadyClock = std::chrono::steady_clock;

}  // namespace device
