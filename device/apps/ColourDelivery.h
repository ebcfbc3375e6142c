// What a video app tells its user about the colours it sends: whether a home screen serves the
// device at all, and at the end how many colours were sent and how many reached the home screen.
// Main thread of a video app process.
#pragma once

#include <ostream>

namespace device {

// The process that serves the device's colour channel now (a home screen); 0 when none does.
int colourServerProcess();

// Warns on `err` when no home screen serves the device's colour channel now.
void warnWhenNoHomeScreen(std::ostream& err);

// One line on `err`: the colours the library sent from this process and how many were delivered.
// Waits a little for the replies to calls still in flight.
void reportColourDelivery(std::ostream& err);

}  // namespace device
