// AccessoryFinder: the HomeKit accessories the settings page lists, each with the lamp of this
// device it is: those advertised on the network (DNS-SD) as they come and go, then the device's
// paired lamps that are not advertised (so that they can still be unpaired). Published to the
// state feed as JSON whenever the network or the home description changes.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <base/StatusOr.h>
#include <dnssd/HapAdvertisement.h>
#include <dnssd/ServiceBrowser.h>

namespace device {
class HomeDescriptionWatcher;
}
class StateFeed;

class AccessoryFinder {
public:
    // Starts looking; an error when the network cannot be browsed (the page then lists no
    // accessories, and says why).
    static device::StatusOr<std::unique_ptr<AccessoryFinder>> start(StateFeed& feed);
    ~AccessoryFinder();
    AccessoryFinder(const AccessoryFinder&) = delete;
    AccessoryFinder& operator=(const AccessoryFinder&) = delete;

    // Publishes the list again, with the paired lamps read afresh.
    void publish();

private:
    explicit AccessoryFinder(StateFeed& feed);

    StateFeed& feed_;
    std::shared_ptr<device::dnssd::ServiceBrowser> browser_;
    std::mutex mutex_;
    std::map<std::string, device::dnssd::HapAdvertisement> advertised_;  // by device identifier
    std::vector<std::string> order_;                                     // identifiers as first seen
    device::dnssd::ServiceBrowser::Subscription subscription_;
    std::unique_ptr<device::HomeDescriptionWatcher> watcher_;
};
