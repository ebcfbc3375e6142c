#include "Session.h"

#include <optional>

#include "Crypto.h"
#include "HttpParser.h"
#include "HttpRequest.h"
#include "PairVerify.h"
#include "SessionCipher.h"
#include "Socket.h"

namespace device::hap {

class SessionConnection {
public:
    SessionConnection(std::unique_ptr<Socket> socket, const std::array<uint8_t, 32>& writeKey,
                      const std::array<uint8_t, 32>& readKey)
        : socket(std::move(socket)), encoder(writeKey), decoder(readKey) {}

    // Feeds what arrived through the frames and the HTTP parser, handing events on; a response
    // goes to `response` when one is wanted, and is an error otherwise.
    Status take(std::string_view bytes, std::optional<HttpResponse>* response) {
        plain.clear();
        Status decoded = decoder.feed(bytes, plain);
        if (!decoded.ok()) return decoded;
        Status parsed = parser.feed(plain);
        if (!parsed.ok()) return parsed;
        while (parser.hasMessage()) {
            HttpResponse message = parser.next();
            if (message.event) {
                if (eventHandler) eventHandler(message);
            } else if (response && !*response) {
                *response = std::move(message);
            } else {
                return Status::error("The accessory sent a response nobody asked for.");
            }
        }
        return Status::OK();
    }

    // Sends `request` in frames and reads until its response has come whole.
    StatusOr<HttpResponse> exchange(std::string_view request, SteadyClock::time_point deadline,
                                    const Endpoint& endpoint) {
        outgoing.clear();
        encoder.encode(request, outgoing);
        Status sent = socket->send(outgoing, deadline);
        if (!sent.ok()) return sent;
        std::optional<HttpResponse> response;
        char buffer[16 * 1024];
        while (!response) {
            size_t received = 0;
            Status read = socket->receive(buffer, sizeof buffer, received, deadline);
            if (!read.ok()) return read;
            Status taken = take(std::string_view(buffer, received), &response);
            if (!taken.ok()) return Status::error(taken.message() + " (" + endpoint.text() + ")");
        }
        return std::move(*response);
    }

    std::unique_ptr<Socket> socket;
    FrameEncoder encoder;
    FrameDecoder decoder;
    HttpParser parser;
    std::string plain;
    std::string outgoing;
    std::function<void(const HttpResponse&)> eventHandler;
};

Session::Session(Endpoint endpoint, std::unique_ptr<Socket> socket, const SessionKeys& keys)
    : endpoint_(std::move(endpoint)),
      connection_(std::make_unique<SessionConnection>(std::move(socket), keys.write, keys.read)) {}

Session::~Session() = default;

StatusOr<std::unique_ptr<Session>> Session::open(const Endpoint& endpoint, const ControllerIdentity& controller,
                                                 const AccessoryPairing& accessory, std::chrono::milliseconds timeout) {
    if (!crypto::ready()) return Status::error("The cryptography library could not start.");
    auto deadline = SteadyClock::now() + timeout;
    auto socket = Socket::connect(endpoint, deadline);
    if (!socket.ok()) return socket.status();
    auto keys = pairVerify(**socket, endpoint, controller, &accessory, deadline);
    if (!keys.ok()) return keys.status();
    return std::unique_ptr<Session>(new Session(endpoint, std::move(*socket), *keys));
}

StatusOr<HttpResponse> Session::request(std::string_view method, std::string_view path, std::string_view body,
                                        std::chrono::milliseconds timeout) {
    return requestWithType(method, path, kJsonContentType, body, timeout);
}

StatusOr<HttpResponse> Session::requestWithType(std::string_view method, std::string_view path,
                                                std::string_view contentType, std::string_view body,
                                                std::chrono::milliseconds timeout) {
    if (!connection_) return Status::error("The session with the accessory at " + endpoint_.text() + " is closed.");
    auto response = connection_->exchange(httpRequestText(method, path, endpoint_, contentType, body),
                                          SteadyClock::now() + timeout, endpoint_);
    if (!response.ok()) connection_.reset();
    return response;
}

void Session::setEventHandler(std::function<void(const HttpResponse&)> handler) {
    if (connection_) connection_->eventHandler = std::move(handler);
}

int Session::descriptor() const { return connection_ ? connection_->socket->descriptor() : -1; }

bool Session::isOpen() const { return connection_ != nullptr; }

device::Status Session::readPendingEvents() {
    if (!connection_) return Status::error("The session with the accessory at " + endpoint_.text() + " is closed.");
    char buffer[16 * 1024];
    for (;;) {
        size_t received = 0;
        Status read = connection_->socket->receiveNow(buffer, sizeof buffer, received);
        if (read.ok() && received == 0) return Status::OK();
        if (read.ok()) read = connection_->take(std::string_view(buffer, received), nullptr);
        if (!read.ok()) {
            connection_.reset();
            return Status::error(read.message() + (read.message().find(endpoint_.text()) == std::string::npos
                                                       ? " (" + endpoint_.text() + ")"
                                                       : ""));
        }
    }
}

}  // namespace device::hap
