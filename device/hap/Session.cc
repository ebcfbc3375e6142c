#include "Session.h"

#include <sodium.h>

#include "../Foundation/PrintableText.h"
#include "Crypto.h"
#include "HttpParser.h"
#include "PairingExchange.h"
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

    std::unique_ptr<Socket> socket;
    FrameEncoder encoder;
    FrameDecoder decoder;
    HttpParser parser;
    std::string plain;
    std::string outgoing;
    std::function<void(const HttpResponse&)> eventHandler;
};

namespace {

// Pair-verify M1..M4 on `socket`; the session's write and read keys. Without `accessory` the
// accessory's proof is not checked (see withdrawUnconfirmedPairing). A refusal at M4 carries the
// accessory's TLV error as its code.
std::optional<std::pair<std::array<uint8_t, 32>, std::array<uint8_t, 32>>> pairVerify(
    Socket& socket, const Endpoint& endpoint, const ControllerIdentity& controller, const AccessoryPairing* accessory,
    SteadyClock::time_point deadline, Status* status) {
    auto fail = [&](std::string why) -> std::optional<std::pair<std::array<uint8_t, 32>, std::array<uint8_t, 32>>> {
        *status = Status::error(std::move(why));
        return std::nullopt;
    };
    const char* path = "/pair-verify";
    auto ours = crypto::x25519KeyPair();
    auto m2 =
        exchangeTlv(socket, endpoint, path, Tlv8().add(kTlvState, 1).add(kTlvPublicKey, crypto::view(ours.publicKey)),
                    2, deadline, status);
    if (!m2) return std::nullopt;
    if (auto error = m2->byte(kTlvError)) return fail(tlvErrorText(*error, endpoint, "verification"));
    const std::string* theirs = m2->find(kTlvPublicKey);
    const std::string* encrypted = m2->find(kTlvEncryptedData);
    if (!theirs || !encrypted) return fail("The accessory at " + endpoint.text() + " sent an incomplete verification.");
    auto shared = crypto::x25519(ours.secretKey, *theirs);
    sodium_memzero(ours.secretKey.data(), ours.secretKey.size());
    if (!shared) return fail("The accessory at " + endpoint.text() + " sent an invalid session key.");
    std::string sharedBytes(crypto::view(*shared));
    auto verifyKey = crypto::hkdf(sharedBytes, "Pair-Verify-Encrypt-Salt", "Pair-Verify-Encrypt-Info");
    auto writeKey = crypto::hkdf(sharedBytes, "Control-Salt", "Control-Write-Encryption-Key");
    auto readKey = crypto::hkdf(sharedBytes, "Control-Salt", "Control-Read-Encryption-Key");
    sodium_memzero(sharedBytes.data(), sharedBytes.size());
    if (!verifyKey || !writeKey || !readKey) return fail("Deriving the session keys failed.");

    auto opened = crypto::open(*encrypted, {}, crypto::nonce("PV-Msg02"), *verifyKey);
    std::optional<Tlv8> inner = opened ? Tlv8::decode(*opened) : std::nullopt;
    const std::string* identifier = inner ? inner->find(kTlvIdentifier) : nullptr;
    const std::string* signature = inner ? inner->find(kTlvSignature) : nullptr;
    if (!identifier || !signature) {
        return fail("The accessory at " + endpoint.text() + " sent an unreadable verification message.");
    }
    std::string accessoryInfo = *theirs + *identifier + std::string(crypto::view(ours.publicKey));
    if (accessory && (*identifier != accessory->pairingId ||
                      !crypto::ed25519Verify(accessoryInfo, *signature, crypto::view(accessory->publicKey)))) {
        return fail("REFUSED: the accessory at " + endpoint.text() + " did not prove it is the paired accessory " +
                    printable(accessory->pairingId) + " (it presented " +
                    (*identifier == accessory->pairingId ? "another long-term key"
                                                         : "the identifier " + printable(*identifier)) +
                    "). Nothing was sent to it; pair it again if it was reset.");
    }

    std::string controllerInfo = std::string(crypto::view(ours.publicKey)) + controller.pairingId + *theirs;
    auto controllerSignature = crypto::ed25519Sign(controllerInfo, controller.secretKey);
    std::string proof =
        Tlv8().add(kTlvIdentifier, controller.pairingId).add(kTlvSignature, crypto::view(controllerSignature)).encode();
    std::string sealed = crypto::seal(proof, {}, crypto::nonce("PV-Msg03"), *verifyKey);
    auto m4 = exchangeTlv(socket, endpoint, path, Tlv8().add(kTlvState, 3).add(kTlvEncryptedData, sealed), 4, deadline,
                          status);
    if (!m4) return std::nullopt;
    if (auto error = m4->byte(kTlvError)) {
        *status = Status::error(
            error == kTlvErrorAuthentication
                ? "The accessory at " + endpoint.text() +
                      " no longer knows this controller; its pairing was removed and it must be paired again."
                : tlvErrorText(*error, endpoint, "verification"),
            *error);
        return std::nullopt;
    }
    return std::make_pair(*writeKey, *readKey);
}

}  // namespace

Session::Session(Endpoint endpoint, std::unique_ptr<SessionConnection> connection)
    : endpoint_(std::move(endpoint)), connection_(std::move(connection)) {}

Session::~Session() = default;

std::unique_ptr<Session> Session::open(const Endpoint& endpoint, const ControllerIdentity& controller,
                                       const AccessoryPairing& accessory, std::chrono::milliseconds timeout,
                                       device::Status* status) {
    Status local;
    Status& result = status ? *status : local;
    if (!crypto::ready()) {
        result = Status::error("The cryptography library could not start.");
        return nullptr;
    }
    auto deadline = SteadyClock::now() + timeout;
    auto socket = Socket::connect(endpoint, deadline, &result);
    if (!socket) return nullptr;
    auto keys = pairVerify(*socket, endpoint, controller, &accessory, deadline, &result);
    if (!keys) return nullptr;
    result = Status::OK();
    return std::unique_ptr<Session>(
        new Session(endpoint, std::make_unique<SessionConnection>(std::move(socket), keys->first, keys->second)));
}

StatusOr<bool> withdrawUnconfirmedPairing(const Endpoint& endpoint, const ControllerIdentity& controller,
                                          std::chrono::milliseconds timeout) {
    if (!crypto::ready()) return Status::error("The cryptography library could not start.");
    auto deadline = SteadyClock::now() + timeout;
    Status status;
    auto socket = Socket::connect(endpoint, deadline, &status);
    if (!socket) return status;
    auto keys = pairVerify(*socket, endpoint, controller, nullptr, deadline, &status);
    // An accessory that does not know this controller's key holds no pairing of it.
    if (!keys && status.code() == kTlvErrorAuthentication) return false;
    if (!keys) return status;
    Session session(endpoint, std::make_unique<SessionConnection>(std::move(socket), keys->first, keys->second));
    if (Status removed = removePairing(session, controller.pairingId); !removed.ok()) return removed;
    return true;
}

std::optional<HttpResponse> Session::request(std::string_view method, std::string_view path, std::string_view body,
                                             std::chrono::milliseconds timeout, device::Status* status) {
    return requestWithType(method, path, kJsonContentType, body, timeout, status);
}

std::optional<HttpResponse> Session::requestWithType(std::string_view method, std::string_view path,
                                                     std::string_view contentType, std::string_view body,
                                                     std::chrono::milliseconds timeout, device::Status* status) {
    auto fail = [&](Status why) -> std::optional<HttpResponse> {
        connection_.reset();
        if (status) *status = std::move(why);
        return std::nullopt;
    };
    if (!connection_)
        return fail(Status::error("The session with the accessory at " + endpoint_.text() + " is closed."));
    auto deadline = SteadyClock::now() + timeout;
    SessionConnection& c = *connection_;
    c.outgoing.clear();
    c.encoder.encode(httpRequestText(method, path, endpoint_, contentType, body), c.outgoing);
    Status sent = c.socket->send(c.outgoing, deadline);
    if (!sent.ok()) return fail(sent);
    std::optional<HttpResponse> response;
    char buffer[16 * 1024];
    while (!response) {
        size_t received = 0;
        Status read = c.socket->receive(buffer, sizeof buffer, received, deadline);
        if (!read.ok()) return fail(read);
        Status taken = c.take(std::string_view(buffer, received), &response);
        if (!taken.ok()) return fail(Status::error(taken.message() + " (" + endpoint_.text() + ")"));
    }
    if (status) *status = Status::OK();
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

device::Status removePairing(Session& session, const std::string& controllerPairingId) {
    // The request's body is TLV8, so it goes through the session's framing by hand.
    std::string body = Tlv8().add(kTlvState, 1).add(kTlvMethod, 4).add(kTlvIdentifier, controllerPairingId).encode();
    Status status;
    auto response =
        session.requestWithType("POST", "/pairings", kTlvContentType, body, std::chrono::seconds(10), &status);
    if (!response) return status;
    const std::string at = "The accessory at " + session.endpoint().text();
    if (response->status != 200) {
        return Status::error(at + " answered the removal of the pairing with HTTP status " +
                             std::to_string(response->status) + ".");
    }
    auto tlv = Tlv8::decode(response->body, &status);
    if (!tlv) return status;
    if (auto error = tlv->byte(kTlvError))
        return Status::error(tlvErrorText(*error, session.endpoint(), "removing the pairing"));
    if (tlv->byte(kTlvState) != 2) return Status::error(at + " answered the removal of the pairing out of step.");
    return Status::OK();
}

}  // namespace device::hap
