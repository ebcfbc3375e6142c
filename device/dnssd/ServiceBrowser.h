// ServiceBrowser: finds the instances of one DNS-SD service type ("_hap._tcp.local") over multicast
// DNS and follows them: it queries at once, then again after 1 s, 2 s, 4 s... up to an hour apart,
// refreshes what it holds before it expires, hears announcements and goodbyes, and tells its
// listeners each instance that appears, changes or goes. It runs on an IO sequence of its own
// (base/IoSequence.h); its sockets are MulticastSockets'.
//
// Shared by whoever needs it (a shared_ptr); `instances`, `queryNow` and `listen` may be called
// from any thread. The last holder must not let it go from one of its own listeners.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "../base/IoSequence.h"
#include "../base/StatusOr.h"
#include "ServiceCache.h"
#include "ServiceInstance.h"

namespace device::dnssd {

class MulticastSockets;

class ServiceBrowser {
    struct Listeners;

public:
    using Change = ServiceCache::Change;
    using Listener = std::function<void(Change, const ServiceInstance&)>;

    // Browsing `service`, its first query sent; an error when no socket or sequence could be made
    // (no interface can multicast, no descriptor left).
    static StatusOr<std::shared_ptr<ServiceBrowser>> start(const std::string& service);
    ~ServiceBrowser();
    ServiceBrowser(const ServiceBrowser&) = delete;
    ServiceBrowser& operator=(const ServiceBrowser&) = delete;

    // A listener's registration: the listener is not called once this is gone (a call running on
    // the browser's sequence meanwhile ends first, unless the subscription goes from inside it).
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&&) noexcept = default;
        Subscription& operator=(Subscription&&) noexcept;
        ~Subscription();

    private:
        friend class ServiceBrowser;
        void end();
        Subscription(std::weak_ptr<Listeners> listeners, uint64_t id) : listeners_(std::move(listeners)), id_(id) {}
        std::weak_ptr<Listeners> listeners_;
        uint64_t id_ = 0;
    };
    // Calls `listener` on the browser's sequence, first with every instance held now (as appeared),
    // then with each change, for as long as the subscription lasts.
    [[nodiscard]] Subscription listen(Listener listener);

    // The complete instances held now. Any thread.
    std::vector<ServiceInstance> instances() const;
    // Asks again soon: now, or a second after the last query (multicast DNS allows no more). Any
    // thread: for a caller that cannot reach an instance where it was.
    void queryNow();
    // Whether it listens on port 5353 itself (announcements reach it), shared with any responder of
    // the machine; else it asks from a port of its own, and hears only the answers to its queries.
    bool onSharedPort() const;
    // The interfaces it queries on.
    std::vector<std::string> interfaceNames() const;

private:
    ServiceBrowser() = default;

    // On the sequence.
    void serve();
    void schedule(SteadyClock::time_point at);
    void sendQuery(SteadyClock::time_point now);
    void readAnswers(int fd);
    void tell(const std::vector<ServiceCache::Event>& events);

    std::unique_ptr<IoSequence> sequence_;
    std::unique_ptr<MulticastSockets> sockets_;
    std::vector<uint8_t> query_;
    std::shared_ptr<Listeners> listeners_;
    // On the sequence.
    std::unique_ptr<ServiceCache> cache_;
    std::vector<IoSequence::Watch> watches_;
    SteadyClock::time_point nextQuery_{}, lastQuery_{};
    SteadyClock::duration interval_ = std::chrono::seconds(1);
    bool queryWanted_ = false;
    std::optional<SteadyClock::time_point> wakeAt_;
    // The instances held, for other threads.
    mutable std::mutex snapshotLock_;
    std::vector<ServiceInstance> snapshot_;
};

}  // namespace device::dnssd
