// The device's own side of the messaging library, outside its interface: what became of this
// process's channels, for the device's programs to tell their user. Device only; the system never
// sees it. Any thread.
#pragma once

#include <string>

#include "ChannelClient.h"
#include "MRYIPCCenter.h"

namespace device::ipc {

// Whether this process has been asked to serve channel `name` (addTarget:action:), and when it
// could not, why (empty while it serves).
struct ServeState {
    bool asked = false;
    std::string failure;
};
ServeState serveState(const std::string& name);

// The calls this process has made on channel `name` so far.
ChannelClient::Tally callTally(const std::string& name);

}  // namespace device::ipc
