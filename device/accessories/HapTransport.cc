#include "HapTransport.h"

#include "../Foundation/PrintableText.h"

#include "../activity/ProcessActivity.h"
#include "../dnssd/HapBrowser.h"
#include "../hap/Keyring.h"
#include "LampRecord.h"

namespace device {

namespace {

// The process's browser of lamps; nothing, said once, where it cannot run.
std::shared_ptr<dnssd::ServiceBrowser> lampBrowser() {
    StatusOr<std::shared_ptr<dnssd::ServiceBrowser>> browser = dnssd::sharedHapBrowser();
    if (browser.ok()) return *browser;
    static std::once_flag said;
    std::call_once(said, [&] {
        NSLog("HomeKit: real lamps are not looked for on the network, so one that moves is not found again: %s",
              browser.status().message().c_str());
    });
    return nullptr;
}

}  // namespace

std::shared_ptr<HapTransport> HapTransport::make(const AccessoryDescription& description,
                                                 std::shared_ptr<AccessoryStore> store, const std::string& directory,
                                                 dispatch_queue_t queue) {
    std::shared_ptr<HapTransport> transport(new HapTransport());
    transport->name_ = quotedPrintable(description.name);
    transport->identifier_ = description.identifier;
    transport->store_ = std::move(store);
    transport->queue_ = queue;
    std::vector<hap::CharacteristicRef> subscribe;
    for (const ServiceDescription& service : description.services)
        for (const CharacteristicDescription& characteristic : service.characteristics) {
            transport->characteristicIdentifiers_[{characteristic.aid, characteristic.iid}] = characteristic.identifier;
            subscribe.push_back({characteristic.aid, characteristic.iid});
        }

    const HapAccessoryAddress& address = *description.hap;
    StatusOr<hap::Keyring> keyring = hap::Keyring::open(directory);
    std::optional<hap::AccessoryPairing> pairing;
    if (keyring.ok()) pairing = keyring->pairing(address.pairingId);
    if (!keyring.ok()) {
        transport->problem_ = "the controller's keys cannot be read: " + keyring.status().message();
    } else if (!pairing) {
        transport->problem_ = "this device is not paired with it (pair it again with `glimmora home pair`)";
    }
    if (!transport->problem_.empty()) {
        transport->reachable_ = false;
        return transport;
    }
    hap::AccessoryClient::Options options;
    options.requestTimeout = std::chrono::milliseconds(description.timeoutMs);
    options.connectTimeout = std::min(options.connectTimeout, options.requestTimeout);
    transport->session_ = Session{hap::Endpoint{address.host, address.port}, keyring->controller(), *pairing,
                                  std::move(subscribe), options};
    transport->configuration_ = address.configuration;
    transport->browser_ = lampBrowser();
    return transport;
}

HapTransport::~HapTransport() = default;

bool HapTransport::reachable() const { return reachable_.load(); }

void HapTransport::start(Events events) {
    queueChecker_.check("a real accessory");
    events_ = std::move(events);
    if (!problem_.empty()) {
        setReachable(problem_);
        return;
    }
    // The client's callbacks run on its own sequence: they only hand over to the queue, and hold
    // the transport weakly, so that a home going away is never kept by its own session.
    std::weak_ptr<HapTransport> weak = weak_from_this();
    dispatch_queue_t queue = queue_;
    hap::AccessoryClient::Callbacks callbacks;
    callbacks.values = [weak, queue](const std::vector<hap::CharacteristicReport>& reports) {
        dispatch_async(queue, makeBlock([weak, reports] {
                           std::shared_ptr<HapTransport> self = weak.lock();
                           if (!self) return;
                           for (const hap::CharacteristicReport& report : reports)
                               if (Strong<NSObject> value = decodeAccessoryValue(report.value))
                                   self->take(report.aid, report.iid, value);
                       }));
    };
    // Held by the client, not the transport: a lamp that cannot be reached where it was is looked
    // for on the network at once.
    std::shared_ptr<dnssd::ServiceBrowser> browser = browser_;
    callbacks.reachability = [weak, queue, browser](bool reachable, const Status& why) {
        std::string problem = reachable ? std::string() : why.message();
        if (!reachable && problem.empty()) problem = "the accessory cannot be reached";
        if (!reachable && browser) browser->queryNow();
        dispatch_async(queue, makeBlock([weak, problem] {
                           std::shared_ptr<HapTransport> self = weak.lock();
                           // After a goodbye the lost session is no news.
                           if (self && !(self->gone_ && !problem.empty())) self->setReachable(problem);
                       }));
    };
    auto client = std::make_shared<hap::AccessoryClient>(session_->endpoint, session_->controller, session_->pairing,
                                                         session_->subscribe, std::move(callbacks), session_->options);
    {
        std::lock_guard<std::mutex> guard(clientLock_);
        if (closed_) return;
        client_ = client;
    }
    client->connect();
    if (browser_) {
        const std::string id = session_->pairing.pairingId;
        presence_ = browser_->listen(
            [weak, queue, id](dnssd::ServiceBrowser::Change change, const dnssd::ServiceInstance& instance) {
                std::optional<dnssd::HapAdvertisement> advertisement = dnssd::readHapAdvertisement(instance);
                if (!advertisement || !dnssd::sameDeviceId(advertisement->id, id)) return;
                bool present = change != dnssd::ServiceBrowser::Change::gone;
                dispatch_async(queue, makeBlock([weak, present, advertisement = *advertisement] {
                                   if (std::shared_ptr<HapTransport> self = weak.lock())
                                       self->advertised(present, advertisement);
                               }));
            });
    }
}

void HapTransport::close() {
    queueChecker_.check("a real accessory");
    std::shared_ptr<hap::AccessoryClient> client;
    {
        std::lock_guard<std::mutex> guard(clientLock_);
        closed_ = true;
        client = std::move(client_);
    }
    events_ = {};
    presence_ = {};
    // The session closes here, on the queue, after a request in flight; its pending writes fail.
    client.reset();
}

void HapTransport::write(const CharacteristicAddress& where, NSObject* value, WriteDone done) {
    std::shared_ptr<hap::AccessoryClient> client;
    {
        std::lock_guard<std::mutex> guard(clientLock_);
        client = client_;
    }
    if (!client) {
        std::string why = problem_.empty() ? "the accessory was removed from the home" : problem_;
        dispatch_async(queue_, makeBlock([done = std::move(done), why] {
                           done({Status::error(why, kAccessoryUnreachable), 0});
                       }));
        return;
    }
    std::weak_ptr<HapTransport> weak = weak_from_this();
    Strong<NSObject> held(value);
    FrameOrigin origin = currentFrameOrigin();
    dispatch_queue_t queue = queue_;
    uint64_t aid = where.aid, iid = where.iid;
    // Runs on the client's sequence: everything it holds moves into the block, so nothing of the
    // home is released there (the client's sequence must never end its own client).
    auto finish = [weak, held, origin, queue, aid, iid, done = std::move(done)](
                      Status status, std::vector<hap::CharacteristicStatus> statuses) mutable {
        if (status.ok()) recordAcknowledgedLatency(origin);
        dispatch_async(queue,
                       makeBlock([weak = std::move(weak), held = std::move(held), done = std::move(done),
                                  status = std::move(status), statuses = std::move(statuses), aid, iid]() mutable {
                           WriteResult result;
                           if (!status.ok()) {
                               result.status = Status::error(status.message(), kAccessoryUnreachable);
                           } else {
                               result.accessoryStatus = statuses.empty() ? 0 : statuses.front().status;
                               if (result.accessoryStatus == 0)
                                   if (std::shared_ptr<HapTransport> self = weak.lock()) self->take(aid, iid, held);
                           }
                           done(std::move(result));
                       }));
    };
    client->write({{where.aid, where.iid, encodeAccessoryValue(value)}}, std::move(finish));
    // The last hold on a client closed meanwhile goes here, on the caller's thread, never on its own.
    client.reset();
}

void HapTransport::take(uint64_t aid, uint64_t iid, const Strong<NSObject>& value) {
    queueChecker_.check("a real accessory");
    auto identifier = characteristicIdentifiers_.find({aid, iid});
    if (identifier == characteristicIdentifiers_.end()) return;
    if (Status problem = store_->write(identifier->second, value.get()); !problem.ok())
        NSLog("HomeKit: %s: the accessory's value was not kept: %s", name_.c_str(), problem.message().c_str());
    if (events_.reported) events_.reported(identifier->second, value);
}

void HapTransport::setReachable(const std::string& problem) {
    queueChecker_.check("a real accessory");
    if (problem == lastReachability_) return;
    bool wasUnreachable = !lastReachability_.empty() && lastReachability_ != "unknown";
    lastReachability_ = problem;
    reachable_ = problem.empty();
    // Reaching an accessory is the usual case; only its loss and its return are news.
    if (problem.empty() && wasUnreachable)
        NSLog("HomeKit: %s is reachable again", name_.c_str());
    else if (!problem.empty())
        NSLog("HomeKit: %s cannot be reached: %s", name_.c_str(), problem.c_str());
    if (Status stored = store_->writeReachability(identifier_, problem); !stored.ok())
        NSLog("HomeKit: %s: its reachability was not kept: %s", name_.c_str(), stored.message().c_str());
    if (events_.reachability) events_.reachability(problem.empty(), problem);
}

void HapTransport::advertised(bool present, const dnssd::HapAdvertisement& advertisement) {
    queueChecker_.check("a real accessory");
    std::shared_ptr<hap::AccessoryClient> client;
    {
        std::lock_guard<std::mutex> guard(clientLock_);
        client = client_;
    }
    if (!client) return;
    if (!present) {
        gone_ = true;
        setReachable("it left the network (it said goodbye)");
        return;
    }
    hap::Endpoint at{advertisement.host, advertisement.port};
    if (!(at == session_->endpoint)) {
        if (movedTo_ == at) return;
        movedTo_ = at;
        NSLog("HomeKit: %s moved to %s", name_.c_str(), at.text().c_str());
        std::weak_ptr<HapTransport> weak = weak_from_this();
        uint32_t configuration = advertisement.configuration;
        // The new address goes into the home; the running home then makes this lamp's link anew,
        // at the new address, and closes this one.
        dispatch_async(dispatch_get_global_queue(0, 0), makeBlock([weak, at, configuration] {
                           if (std::shared_ptr<HapTransport> self = weak.lock()) self->recordAddress(at, configuration);
                       }));
        return;
    }
    if (advertisement.configuration != 0 && advertisement.configuration != configuration_) {
        bool known = configuration_ != 0;
        configuration_ = advertisement.configuration;
        std::weak_ptr<HapTransport> weak = weak_from_this();
        uint32_t configuration = advertisement.configuration;
        at = session_->endpoint;
        // A lamp paired by address tells its number the first time it is seen: only recorded.
        dispatch_async(dispatch_get_global_queue(0, 0), makeBlock([weak, at, configuration, known] {
                           std::shared_ptr<HapTransport> self = weak.lock();
                           if (!self) return;
                           if (known)
                               self->rereadServices(configuration);
                           else
                               self->recordAddress(at, configuration);
                       }));
    }
    if (gone_ || !reachable_) {
        gone_ = false;
        client->retryNow();
    }
}

void HapTransport::recordAddress(const hap::Endpoint& endpoint, uint32_t configuration) {
    bool changed = false;
    if (Status problem = recordLampAddress(session_->pairing.pairingId, endpoint, configuration, &changed);
        !problem.ok())
        NSLog("HomeKit: %s: where it is now was not recorded: %s", name_.c_str(), problem.message().c_str());
}

void HapTransport::rereadServices(uint32_t configuration) {
    std::string summary;
    Status problem = rereadLampServices(session_->pairing.pairingId, configuration, &summary);
    if (!problem.ok())
        NSLog("HomeKit: %s changed its configuration, and its services were not read again: %s", name_.c_str(),
              problem.message().c_str());
    else if (!summary.empty())
        NSLog("HomeKit: %s changed its configuration: %s", name_.c_str(), summary.c_str());
}

}  // namespace device
