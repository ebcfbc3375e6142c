// AccessoryTransport: how writes reach one accessory and how it tells what it holds, the one
// interface behind every lamp of the home: a simulated lamp (SimulatedTransport) or a real one
// reached over the HomeKit Accessory Protocol (HapTransport). Device only.
//
// A transport completes its writes and reports its accessory's news on the queue it was made with
// (HomeKit's), one at a time. Each keeps its accessory's record in the accessory store, for the
// other processes of the device; the value HomeKit holds lives in the AccessoryLink above it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "../Foundation/Foundation.h"

#include "../base/Status.h"

namespace device {

// A characteristic as its accessory knows it.
struct CharacteristicAddress {
    std::string identifier;     // the characteristic's identifier text, its key in the store
    uint64_t aid = 0, iid = 0;  // a real accessory's own ids for it
};

// The codes an error of a transport carries (Status::code).
enum AccessoryFailure : long {
    kAccessoryUnreachable = 1,   // no session, or it dropped: the request did not get through
    kAccessoryTimedOut = 2,      // sent, and no answer in time
    kAccessoryFailed = 3,        // the accessory answered that it failed
    kAccessoryValueNotKept = 4,  // the accessory took it, and its record could not be kept
};

// How a write ended: `status` is ok when the accessory answered; `accessoryStatus` is then the
// accessory's own status for the characteristic (HAP's, e.g. -70410), 0 when it took the value.
struct WriteResult {
    Status status;
    int accessoryStatus = 0;
    bool taken() const { return status.ok() && accessoryStatus == 0; }
};

class AccessoryTransport {
public:
    struct Events {
        // A value the accessory reported by itself (an event, a read after reconnecting).
        std::function<void(const std::string& identifier, Strong<NSObject> value)> reported;
        // The accessory became reachable (`why` empty) or not (why not).
        std::function<void(bool reachable, const std::string& why)> reachability;
    };
    using WriteDone = std::function<void(WriteResult)>;

    virtual ~AccessoryTransport() = default;

    // Whether the accessory answers, as last found. Its queue.
    virtual bool reachable() const = 0;
    // Starts the transport, which reports through `events` from then on. Its queue, once.
    virtual void start(Events events) = 0;
    // Sends `value` (already through the value rule) as the new value of `where`; `done` runs once
    // on the queue. Any thread.
    virtual void write(const CharacteristicAddress& where, NSObject* value, WriteDone done) = 0;
    // Ends the transport: a session closes, nothing more is reported, and later writes fail as
    // unreachable. Its queue.
    virtual void close() = 0;
};

}  // namespace device
