#include "Keyring.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

#include "../Foundation/PrintableText.h"
#include "Crypto.h"

namespace device::hap {

namespace {

constexpr const char* kFileName = "hap-keys.json";
// Far more than the identity and a household's accessories take.
constexpr size_t kMaxBytes = 1 << 20;

std::string toHex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

template <size_t N>
bool fromHex(const std::string& text, std::array<uint8_t, N>& out) {
    if (text.size() != 2 * N) return false;
    size_t written = 0;
    return sodium_hex2bin(out.data(), N, text.data(), text.size(), nullptr, &written, nullptr) == 0 && written == N;
}

std::string makeUuid() {
    auto bytes = crypto::randomBytes(16);
    bytes[6] = static_cast<char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    std::string hex = toHex(bytes);
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20);
}

}  // namespace

StatusOr<Keyring> Keyring::open(const std::string& directory) {
    if (!crypto::ready()) return Status::error("The cryptography library could not start.");
    Keyring keyring;
    keyring.path_ = directory + "/" + kFileName;
    const std::string& path = keyring.path_;
    // Opened without following a link and checked on the descriptor, so the file judged is the one read.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        struct stat link {};
        if (lstat(path.c_str(), &link) == 0)
            return Status::error(
                "The HomeKit keyring " + path +
                " is a symbolic link to a missing file; this device will not take it for no keyring, "
                "since a new identity would cut it off from its paired accessories. Restore its target, "
                "or remove the link if this device has no paired accessories.");
        auto pair = crypto::ed25519KeyPair();
        keyring.controller_.pairingId = makeUuid();
        keyring.controller_.publicKey = pair.publicKey;
        keyring.controller_.secretKey = pair.secretKey;
        sodium_memzero(pair.secretKey.data(), pair.secretKey.size());
        keyring.new_ = true;
        return keyring;
    }
    if (fd < 0 && errno == ELOOP)
        return Status::error("The HomeKit keyring " + path +
                             " is a symbolic link; the keyring must be a file of its own. Move its target there if it "
                             "is this device's keyring.");
    if (fd < 0)
        return Status::error("The HomeKit keyring " + path + " could not be read: " + std::strerror(errno) + ".");
    struct stat info {};
    std::string problem;
    if (fstat(fd, &info) != 0)
        problem = "could not be read: " + std::string(std::strerror(errno)) + ".";
    else if (S_ISDIR(info.st_mode))
        problem = "is a directory, not a keyring.";
    else if (!S_ISREG(info.st_mode))
        problem = "is not a regular file.";
    else if (info.st_uid != geteuid())
        problem = "belongs to another user.";
    else if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        problem = "can be read or changed by other users (mode " + std::string(mode) +
                  "), so its controller's secret key may have been copied. If nobody else could reach it, `chmod "
                  "600 " +
                  path + "` and try again; if someone could, unpair every accessory and pair it anew.";
    }
    std::string text;
    char buffer[4096];
    while (problem.empty()) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) problem = "could not be read: " + std::string(std::strerror(errno)) + ".";
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > kMaxBytes) problem = "is larger than a keyring can be.";
    }
    ::close(fd);
    if (!problem.empty()) {
        sodium_memzero(text.data(), text.size());
        return Status::error("The HomeKit keyring " + path + " " + problem);
    }
    nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    sodium_memzero(text.data(), text.size());
    std::string broken = "The HomeKit keyring " + path + " is damaged";
    if (document.is_discarded() || !document.is_object()) return Status::error(broken + ": it is not JSON.");
    try {
        const auto& controller = document.at("controller");
        keyring.controller_.pairingId = controller.at("pairingId").get<std::string>();
        if (!fromHex(controller.at("publicKey").get<std::string>(), keyring.controller_.publicKey) ||
            !fromHex(controller.at("secretKey").get<std::string>(), keyring.controller_.secretKey)) {
            return Status::error(broken + ": the controller's keys are malformed.");
        }
        for (const auto& entry : document.at("accessories")) {
            AccessoryPairing pairing;
            pairing.pairingId = entry.at("pairingId").get<std::string>();
            if (!fromHex(entry.at("publicKey").get<std::string>(), pairing.publicKey)) {
                return Status::error(broken + ": the key of accessory " + printable(pairing.pairingId) +
                                     " is malformed.");
            }
            if (entry.contains("address")) {
                pairing.pairedAt.host = entry.at("address").get<std::string>();
                pairing.pairedAt.port = entry.at("port").get<uint16_t>();
            }
            keyring.pairings_.push_back(std::move(pairing));
        }
        if (document.contains("pending"))
            for (const auto& entry : document.at("pending"))
                keyring.pending_.push_back({entry.at("address").get<std::string>(), entry.at("port").get<uint16_t>()});
    } catch (const std::exception&) {
        return Status::error(broken + ": a field is missing or of the wrong kind.");
    }
    return keyring;
}

std::optional<AccessoryPairing> Keyring::pairing(const std::string& accessoryPairingId) const {
    for (const auto& pairing : pairings_) {
        if (pairing.pairingId == accessoryPairingId) return pairing;
    }
    return std::nullopt;
}

device::Status Keyring::addPending(const Endpoint& at) {
    for (const Endpoint& pending : pending_)
        if (pending == at) return Status::OK();
    pending_.push_back(at);
    Status saved = save();
    if (!saved.ok()) pending_.pop_back();
    return saved;
}

device::Status Keyring::removePending(const Endpoint& at) {
    auto previous = pending_;
    std::erase_if(pending_, [&](const Endpoint& pending) { return pending == at; });
    if (pending_.size() == previous.size()) return Status::OK();
    if (madeHere_ && pending_.empty() && pairings_.empty()) {
        if (unlink(path_.c_str()) != 0 && errno != ENOENT)
            return Status::error("The HomeKit keyring " + path_ + " could not be removed: " + std::strerror(errno));
        new_ = true;
        madeHere_ = false;
        return Status::OK();
    }
    Status saved = save();
    if (!saved.ok()) pending_ = std::move(previous);
    return saved;
}

device::Status Keyring::addPairing(const AccessoryPairing& pairing) {
    auto previous = pairings_;
    auto previousPending = pending_;
    std::erase_if(pending_, [&](const Endpoint& pending) { return pending == pairing.pairedAt; });
    auto it = std::find_if(pairings_.begin(), pairings_.end(),
                           [&](const AccessoryPairing& p) { return p.pairingId == pairing.pairingId; });
    if (it != pairings_.end()) {
        *it = pairing;
    } else {
        pairings_.push_back(pairing);
    }
    Status saved = save();
    if (!saved.ok()) {
        pairings_ = std::move(previous);
        pending_ = std::move(previousPending);
    }
    return saved;
}

device::Status Keyring::removePairing(const std::string& accessoryPairingId) {
    auto previous = pairings_;
    std::erase_if(pairings_, [&](const AccessoryPairing& p) { return p.pairingId == accessoryPairingId; });
    if (pairings_.size() == previous.size()) return Status::OK();
    Status saved = save();
    if (!saved.ok()) pairings_ = std::move(previous);
    return saved;
}

device::Status Keyring::save() {
    nlohmann::json document;
    document["controller"] = {{"pairingId", controller_.pairingId},
                              {"publicKey", toHex(crypto::view(controller_.publicKey))},
                              {"secretKey", toHex(crypto::view(controller_.secretKey))}};
    document["accessories"] = nlohmann::json::array();
    for (const auto& pairing : pairings_) {
        nlohmann::json entry{{"pairingId", pairing.pairingId}, {"publicKey", toHex(crypto::view(pairing.publicKey))}};
        if (!pairing.pairedAt.host.empty()) {
            entry["address"] = pairing.pairedAt.host;
            entry["port"] = pairing.pairedAt.port;
        }
        document["accessories"].push_back(std::move(entry));
    }
    if (!pending_.empty()) {
        document["pending"] = nlohmann::json::array();
        for (const Endpoint& at : pending_) document["pending"].push_back({{"address", at.host}, {"port", at.port}});
    }
    std::string text = document.dump(2) + "\n";

    std::string temporary = path_ + ".XXXXXX";
    int fd = mkstemp(temporary.data());  // made with mode 0600
    if (fd < 0) return Status::error("The HomeKit keyring " + path_ + " could not be written: " + std::strerror(errno));
    bool written = fchmod(fd, 0600) == 0;
    size_t offset = 0;
    while (written && offset < text.size()) {
        ssize_t n = ::write(fd, text.data() + offset, text.size() - offset);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) offset += static_cast<size_t>(n);
    }
    written = written && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    sodium_memzero(text.data(), text.size());
    if (!written || rename(temporary.c_str(), path_.c_str()) != 0) {
        int error = errno;
        unlink(temporary.c_str());
        return Status::error("The HomeKit keyring " + path_ + " could not be written: " + std::strerror(error));
    }
    if (new_) madeHere_ = true;
    new_ = false;
    return Status::OK();
}

}  // namespace device::hap
