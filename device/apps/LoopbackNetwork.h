// A network of this machine alone: moving a process into a new network namespace that holds only
// the loopback interface, so that nothing it or its children send, multicast included, can leave the
// machine. The HAP tests and the demo with real accessories run inside one; it serves them, not the
// simulated processes, and sits here, on the top floor, where the command's demo reaches it.
#pragma once

#include "../base/Status.h"

namespace device {

// Moves the calling process into a new network namespace holding only loopback, and brings `lo` up.
// A namespace belongs to a thread, so the process must still have one thread: with more it refuses.
// As root it makes a network namespace; otherwise a user namespace too, mapping the user's own ids
// onto themselves, so that files the process writes keep their owner. Fails unless, afterwards, the
// only interface is loopback, up. Loopback can multicast there, so that lamps found by multicast DNS
// are found on it as on a home network.
Status enterLoopbackOnlyNetwork();

// Whether the only network interface this process can see is loopback, and it is up.
bool inLoopbackOnlyNetwork();

}  // namespace device
