#include "ServiceBrowser.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "DnsMessage.h"
#include "MulticastSockets.h"

namespace device::dnssd {

namespace {
constexpr auto kLongestInterval = std::chrono::hours(1);
constexpr auto kQuerySpacing = std::chrono::seconds(1);
}  // namespace

struct ServiceBrowser::Listeners {
    std::mutex lock;  // the map
    std::map<uint64_t, std::shared_ptr<Listener>> listeners;
    uint64_t nextId = 1;
    // Held while listeners are called, so that a subscription going on another thread waits for
    // a call in progress; the calling thread's id lets a listener drop its own subscription.
    std::mutex calling;
    std::atomic<std::thread::id> caller{};
};

ServiceBrowser::Subscription& ServiceBrowser::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        end();
        listeners_ = std::move(other.listeners_);
        id_ = other.id_;
    }
    return *this;
}

ServiceBrowser::Subscription::~Subscription() { end(); }

void ServiceBrowser::Subscription::end() {
    std::shared_ptr<Listeners> listeners = listeners_.lock();
    listeners_.reset();
    if (!listeners) return;
    std::unique_lock<std::mutex> waiting;
    if (listeners->caller.load() != std::this_thread::get_id())
        waiting = std::unique_lock<std::mutex>(listeners->calling);
    std::lock_guard<std::mutex> guard(listeners->lock);
    listeners->listeners.erase(id_);
}

StatusOr<std::shared_ptr<ServiceBrowser>> ServiceBrowser::start(const std::string& service) {
    StatusOr<std::vector<uint8_t>> query = makePointerQuery(service);
    if (!query.ok()) return query.status();
    StatusOr<std::unique_ptr<MulticastSockets>> sockets = MulticastSockets::open();
    if (!sockets.ok()) return sockets.status();
    StatusOr<std::unique_ptr<IoSequence>> sequence = IoSequence::make();
    if (!sequence.ok()) return sequence.status();
    std::shared_ptr<ServiceBrowser> browser(new ServiceBrowser());
    browser->query_ = std::move(*query);
    browser->sockets_ = std::move(*sockets);
    browser->sequence_ = std::move(*sequence);
    browser->listeners_ = std::make_shared<Listeners>();
    browser->cache_ = std::make_unique<ServiceCache>(service);
    // The sequence ends before the browser's members go (the destructor stops it first), so its
    // tasks may hold the browser plainly.
    ServiceBrowser* self = browser.get();
    self->sequence_->postTask([self] {
        for (int fd : self->sockets_->descriptors())
            self->watches_.push_back(
                self->sequence_->watch(fd, IoSequence::Readiness::readable, [self, fd] { self->readAnswers(fd); }));
        self->nextQuery_ = SteadyClock::now();
        self->serve();
    });
    return browser;
}

ServiceBrowser::~ServiceBrowser() {
    // Not from its own sequence (the header says so): stop waits for the sequence to end, so no
    // task or watch runs once the members below go.
    sequence_->postTask([this] { watches_.clear(); });
    sequence_->stop();
}

ServiceBrowser::Subscription ServiceBrowser::listen(Listener listener) {
    auto shared = std::make_shared<Listener>(std::move(listener));
    uint64_t id;
    {
        std::lock_guard<std::mutex> guard(listeners_->lock);
        id = listeners_->nextId++;
        listeners_->listeners[id] = shared;
    }
    // The instances held so far, as appeared: on the sequence, where changes are told, so that none
    // is told before the instance it changes.
    std::weak_ptr<Listeners> weak = listeners_;
    sequence_->postTask([this, weak, id] {
        std::shared_ptr<Listeners> listeners = weak.lock();
        if (!listeners) return;
        std::lock_guard<std::mutex> calling(listeners->calling);
        std::shared_ptr<Listener> listener;
        {
            std::lock_guard<std::mutex> guard(listeners->lock);
            auto found = listeners->listeners.find(id);
            if (found == listeners->listeners.end()) return;
            listener = found->second;
        }
        listeners->caller = std::this_thread::get_id();
        for (const auto& [key, instance] : cache_->instances()) (*listener)(Change::appeared, instance);
        listeners->caller = std::thread::id();
    });
    return Subscription(listeners_, id);
}

std::vector<ServiceInstance> ServiceBrowser::instances() const {
    std::lock_guard<std::mutex> guard(snapshotLock_);
    return snapshot_;
}

void ServiceBrowser::queryNow() {
    sequence_->postTask([this] {
        queryWanted_ = true;
        schedule(std::max(SteadyClock::now(), lastQuery_ + kQuerySpacing));
    });
}

bool ServiceBrowser::onSharedPort() const { return sockets_->onSharedPort(); }

std::vector<std::string> ServiceBrowser::interfaceNames() const { return sockets_->interfaceNames(); }

void ServiceBrowser::schedule(SteadyClock::time_point at) {
    if (wakeAt_ && *wakeAt_ <= at) return;
    wakeAt_ = at;
    sequence_->postDelayedTask(at, [this, at] {
        if (wakeAt_ != at) return;
        wakeAt_.reset();
        serve();
    });
}

void ServiceBrowser::sendQuery(SteadyClock::time_point now) {
    lastQuery_ = now;
    queryWanted_ = false;
    // A query that cannot go out now (an interface going down) is tried again on schedule.
    (void)sockets_->send(query_).ok();
}

void ServiceBrowser::serve() {
    SteadyClock::time_point now = SteadyClock::now();
    tell(cache_->expire(now));
    const bool spaced = now >= lastQuery_ + kQuerySpacing;
    if (now >= nextQuery_) {
        sendQuery(now);
        nextQuery_ = now + interval_;
        interval_ = std::min<SteadyClock::duration>(interval_ * 2, kLongestInterval);
    } else if (spaced && (queryWanted_ || cache_->takeRefreshDue(now))) {
        sendQuery(now);
    }
    SteadyClock::time_point next = nextQuery_;
    if (std::optional<SteadyClock::time_point> due = cache_->nextDue()) next = std::min(next, *due);
    if (queryWanted_) next = std::min(next, lastQuery_ + kQuerySpacing);
    schedule(std::max(next, now + std::chrono::milliseconds(1)));
}

void ServiceBrowser::readAnswers(int fd) {
    std::vector<uint8_t> bytes;
    std::string source;
    while (sockets_->receive(fd, &bytes, &source)) {
        // What is not a well-formed answer is dropped: anyone on the network may send anything.
        StatusOr<std::vector<DnsRecord>> records = readResponse(bytes.data(), bytes.size());
        if (!records.ok()) continue;
        tell(cache_->take(*records, source, SteadyClock::now()));
    }
    if (std::optional<SteadyClock::time_point> due = cache_->nextDue()) schedule(*due);
}

void ServiceBrowser::tell(const std::vector<ServiceCache::Event>& events) {
    if (events.empty()) return;
    {
        std::vector<ServiceInstance> held;
        for (const auto& [key, instance] : cache_->instances()) held.push_back(instance);
        std::lock_guard<std::mutex> guard(snapshotLock_);
        snapshot_ = std::move(held);
    }
    std::lock_guard<std::mutex> calling(listeners_->calling);
    listeners_->caller = std::this_thread::get_id();
    for (const ServiceCache::Event& event : events) {
        // Looked up for each call: a listener may drop its own subscription, or add one.
        std::vector<std::shared_ptr<Listener>> listeners;
        {
            std::lock_guard<std::mutex> guard(listeners_->lock);
            for (const auto& [id, listener] : listeners_->listeners) listeners.push_back(listener);
        }
        for (const std::shared_ptr<Listener>& listener : listeners) {
            bool still;
            {
                std::lock_guard<std::mutex> guard(listeners_->lock);
                still = std::any_of(listeners_->listeners.begin(), listeners_->listeners.end(),
                                    [&](const auto& entry) { return entry.second == listener; });
            }
            if (still) (*listener)(event.change, event.instance);
        }
    }
    listeners_->caller = std::thread::id();
}

}  // namespace device::dnssd
