// A real lamp: the persistent, verified session of the HomeKit Accessory Protocol that its writes
// go through (hap/AccessoryClient.h), its events and its reachability, and its presence on the
// network (dnssd/): a goodbye makes it unreachable at once, its return dials again at once, and
// when it advertises another address or port, or a new configuration number, the home's record of
// it is brought in line (LampRecord.h), which the running home picks up. What the lamp reports (the
// answers to writes, its events, a read of every characteristic whenever a session is verified)
// and whether it can be reached go into the accessory store on the queue, so every process of the
// device sees the lamp's own values. Device only.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../base/SequenceChecker.h"
#include "../dispatch/dispatch.h"
#include "../dnssd/HapAdvertisement.h"
#include "../dnssd/ServiceBrowser.h"
#include "../hap/AccessoryClient.h"
#include "../homes/HomeDescription.h"
#include "AccessoryStore.h"
#include "AccessoryTransport.h"

namespace device {

class HapTransport : public AccessoryTransport, public std::enable_shared_from_this<HapTransport> {
public:
    // The lamp `description` describes (it has "hap"), paired through the keyring of `directory`.
    // Without a pairing in the keyring it is unreachable and every write fails saying so.
    static std::shared_ptr<HapTransport> make(const AccessoryDescription& description,
                                              std::shared_ptr<AccessoryStore> store, const std::string& directory,
                                              dispatch_queue_t queue);
    ~HapTransport() override;

    bool reachable() const override;
    // Starts connecting at once.
    void start(Events events) override;
    void write(const CharacteristicAddress& where, NSObject* value, WriteDone done) override;
    void close() override;

private:
    HapTransport() = default;

    // On the queue.
    void take(uint64_t aid, uint64_t iid, const Strong<NSObject>& value);
    void setReachable(const std::string& problem);
    void advertised(bool present, const dnssd::HapAdvertisement& advertisement);
    // Off the queue: records where the lamp is now, or reads its services again.
    void recordAddress(const hap::Endpoint& endpoint, uint32_t configuration);
    void rereadServices(uint32_t configuration);

    std::string name_;  // quoted, anything a terminal would act on escaped: as log lines show it
    std::string identifier_;
    std::string problem_;  // why there is no session at all (not paired), else empty
    std::shared_ptr<AccessoryStore> store_;
    dispatch_queue_t queue_ = nullptr;
    std::map<std::pair<uint64_t, uint64_t>, std::string> characteristicIdentifiers_;
    // What the session is made of, when paired.
    struct Session {
        hap::Endpoint endpoint;
        hap::ControllerIdentity controller;
        hap::AccessoryPairing pairing;
        std::vector<hap::CharacteristicRef> subscribe;
        hap::AccessoryClient::Options options;
    };
    std::optional<Session> session_;
    Events events_;  // on the queue
    // Made in `make`, started in `start`, ended in `close`; guarded so that a write from any thread
    // meets either the client or none.
    mutable std::mutex clientLock_;
    std::shared_ptr<hap::AccessoryClient> client_;
    bool closed_ = false;
    std::string lastReachability_ = "unknown";  // on the queue
    // Presence on the network: the browser the process shares (none where nothing can multicast).
    std::shared_ptr<dnssd::ServiceBrowser> browser_;
    dnssd::ServiceBrowser::Subscription presence_;  // on the queue
    uint32_t configuration_ = 0;                    // on the queue, as last recorded or seen
    bool gone_ = false;                             // on the queue: it said goodbye
    std::optional<hap::Endpoint> movedTo_;          // on the queue: where it was last seen moving to
    std::atomic<bool> reachable_{true};
    SequenceChecker queueChecker_;  // where take and setReachable run
};

}  // namespace device
