// SettingsServer: the device's settings page over HTTP, on one address of this machine.
//
// Every request must carry the server's access token (a random 256-bit number made at start, in
// the page's address or the X-Glimmora-Token header) and name this server in its Host header (a
// page of another site, even one whose name resolves here, is refused), and an Origin, when
// given, must be this server's own. State changes only by POST. The page itself is built into
// the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <base/StatusOr.h>

class SettingsServer {
public:
    struct Options {
        std::string listen = "127.0.0.1";  // an IP address, not a wildcard
        uint16_t port = 8437;              // 0: any free port
    };
    // Binds and serves on threads of its own; an error says why not (the port taken, no such address).
    static device::StatusOr<std::unique_ptr<SettingsServer>> start(const Options& options);
    // Stops serving (as stop()).
    ~SettingsServer();
    SettingsServer(const SettingsServer&) = delete;
    SettingsServer& operator=(const SettingsServer&) = delete;

    // The page's address with its token: "http://127.0.0.1:8437/?token=…".
    std::string pageAddress() const;
    // Why the accessories on the network are not listed; empty when they are.
    std::string discoveryProblem() const;
    // Ends the event streams, takes back a pairing in progress and stops serving.
    void stop();

    struct Parts;

private:
    SettingsServer() = default;
    std::unique_ptr<Parts> parts_;
};

// Whether `address` is a loopback address (127.0.0.0/8, ::1).
bool isLoopbackAddress(const std::string& address);
