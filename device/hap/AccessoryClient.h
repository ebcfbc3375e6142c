// The persistent session the device's HomeKit writes through, one per accessory, on an IO sequence
// of its own (base/IoSequence.h): it connects and verifies on the first write (or connect()), keeps
// the session, sends queued writes together, delivers events, and after a drop reconnects by
// itself with backoff. Only the backoff dials again: a write while it runs fails at once with the
// last reason.
//
// A client whose sequence could not be made (no descriptor for its pump) does not start: it reports
// the accessory unreachable and fails every write at once, on the caller's thread, saying why.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../base/Status.h"
#include "Characteristic.h"
#include "Endpoint.h"
#include "Keyring.h"

namespace device::hap {

class AccessoryClient {
public:
    struct Callbacks {
        // On the client's sequence: values the accessory reported: events, and a read of every
        // subscribed characteristic each time a session is verified.
        std::function<void(const std::vector<CharacteristicReport>&)> values;
        // On the client's sequence: the accessory became reachable (a verified session) or not (why).
        std::function<void(bool reachable, const device::Status& why)> reachability;
    };
    struct Options {
        std::chrono::milliseconds connectTimeout{3000};  // connect + verify
        std::chrono::milliseconds requestTimeout{3000};  // one request's answer
        std::chrono::milliseconds firstRetry{1000};      // the backoff after a drop, doubling...
        std::chrono::milliseconds longestRetry{30000};   // ...up to this
    };
    using WriteDone = std::function<void(device::Status, std::vector<CharacteristicStatus>)>;

    AccessoryClient(Endpoint endpoint, ControllerIdentity controller, AccessoryPairing accessory,
                    std::vector<CharacteristicRef> subscribe, Callbacks callbacks, Options options);
    // Closes the session and ends the sequence, after a request in flight; pending writes complete
    // with an error. Not from the client's own callbacks.
    ~AccessoryClient();
    AccessoryClient(const AccessoryClient&) = delete;
    AccessoryClient& operator=(const AccessoryClient&) = delete;

    // Queues `writes`. `done` runs on the client's sequence once the accessory answered (ok and one
    // status per write: from a 204 all 0, from a 207 each its own) or failed (an error; the vector
    // is empty). Writes queued while a request is in flight go together in the next
    // PUT /characteristics, until one characteristic would appear twice. No session: the write
    // connects and verifies first, or during the backoff after a failure fails with its reason.
    void write(std::vector<CharacteristicWrite> writes, WriteDone done);
    // Starts connecting now, without waiting for a write.
    void connect();
    // The accessory announced itself again: dials now if there is no session, without waiting for
    // the backoff, and reports its reachability afresh (even when unchanged).
    void retryNow();

    const Endpoint& endpoint() const;

private:
    class Worker;
    std::unique_ptr<Worker> worker_;
};

}  // namespace device::hap
