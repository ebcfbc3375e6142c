// A verified, encrypted connection to a paired accessory: pair-verify M1..M4 with both signatures
// checked, then every request and response in session frames. An accessory presenting another
// long-term key than the pairing's is refused with a loud error and nothing is sent to it.
// Blocking; one request at a time; used from one thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "../base/Status.h"
#include "../base/StatusOr.h"
#include "Endpoint.h"
#include "HttpResponse.h"
#include "Keyring.h"

namespace device::hap {

class SessionConnection;
class Socket;
struct SessionKeys;

class Session {
public:
    // A verified session with the accessory at `endpoint`; an error when it cannot be reached or
    // verified. A refusal of this controller at pair-verify's last step carries the accessory's
    // TLV error as its code.
    static device::StatusOr<std::unique_ptr<Session>> open(const Endpoint& endpoint,
                                                           const ControllerIdentity& controller,
                                                           const AccessoryPairing& accessory,
                                                           std::chrono::milliseconds timeout);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sends one request (framed in one write) and returns its response; EVENT/1.0 messages that
    // arrive meanwhile go to the event handler, if set. Any error leaves the session closed.
    device::StatusOr<HttpResponse> request(std::string_view method, std::string_view path, std::string_view body,
                                           std::chrono::milliseconds timeout);
    // The same with a body of another type than JSON (the pairings' TLV8).
    device::StatusOr<HttpResponse> requestWithType(std::string_view method, std::string_view path,
                                                   std::string_view contentType, std::string_view body,
                                                   std::chrono::milliseconds timeout);
    void setEventHandler(std::function<void(const HttpResponse&)> handler);

    // The socket, for a poll loop waiting for events between requests; -1 once closed.
    int descriptor() const;
    // Reads what the socket holds now without blocking and hands complete events to the handler.
    // An error (the accessory closed, a malformed frame or message) closes the session.
    device::Status readPendingEvents();
    bool isOpen() const;
    const Endpoint& endpoint() const { return endpoint_; }

private:
    friend device::StatusOr<bool> withdrawUnconfirmedPairing(const Endpoint&, const ControllerIdentity&,
                                                             std::chrono::milliseconds);
    Session(Endpoint endpoint, std::unique_ptr<Socket> socket, const SessionKeys& keys);

    Endpoint endpoint_;
    std::unique_ptr<SessionConnection> connection_;
};

}  // namespace device::hap
