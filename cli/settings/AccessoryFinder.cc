#include "AccessoryFinder.h"

#include <algorithm>

#include <dnssd/HapBrowser.h>
#include <homes/HomeDescription.h>
#include <homes/HomeDescriptionWatcher.h>

#include <Foundation/DeviceDirectory.h>

#include "../HomeDiscovery.h"
#include "StateFeed.h"

using device::dnssd::HapAdvertisement;
using device::dnssd::ServiceBrowser;
using json = nlohmann::ordered_json;

AccessoryFinder::AccessoryFinder(StateFeed& feed) : feed_(feed) {}

device::StatusOr<std::unique_ptr<AccessoryFinder>> AccessoryFinder::start(StateFeed& feed) {
    std::unique_ptr<AccessoryFinder> finder(new AccessoryFinder(feed));
    device::StatusOr<std::shared_ptr<ServiceBrowser>> browser = device::dnssd::sharedHapBrowser();
    if (!browser.ok()) return browser.status();
    finder->browser_ = *browser;
    AccessoryFinder* self = finder.get();
    finder->subscription_ =
        finder->browser_->listen([self](ServiceBrowser::Change change, const device::dnssd::ServiceInstance& instance) {
            std::optional<HapAdvertisement> accessory = device::dnssd::readHapAdvertisement(instance);
            if (!accessory) return;
            {
                std::lock_guard<std::mutex> lock(self->mutex_);
                if (change == ServiceBrowser::Change::gone) {
                    self->advertised_.erase(accessory->id);
                    self->order_.erase(std::remove(self->order_.begin(), self->order_.end(), accessory->id),
                                       self->order_.end());
                } else {
                    if (!self->advertised_.count(accessory->id)) self->order_.push_back(accessory->id);
                    self->advertised_[accessory->id] = *accessory;
                }
            }
            self->publish();
        });
    // A lamp paired or unpaired, here or by the command line, changes which lamp each accessory is.
    device::StatusOr<std::unique_ptr<device::HomeDescriptionWatcher>> watcher =
        device::HomeDescriptionWatcher::start(device::deviceDirectory(), [self] { self->publish(); });
    if (watcher.ok()) finder->watcher_ = std::move(*watcher);
    finder->publish();
    return finder;
}

AccessoryFinder::~AccessoryFinder() {
    watcher_.reset();
    subscription_ = device::dnssd::ServiceBrowser::Subscription();
}

void AccessoryFinder::publish() {
    HomesDescription description;
    bool missing = false;
    const std::string path = homeDescriptionPath();
    const bool haveHome = readHomeDescription(path, path, &description, &missing).ok();
    const std::map<std::string, std::string> lamps = pairedLampNames(description);
    json list = json::array();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& id : order_) {
        json entry = advertisementJson(advertised_.at(id), lamps);
        entry["onNetwork"] = true;
        list.push_back(std::move(entry));
    }
    // Paired lamps that nothing advertises now: off, or gone from the network.
    if (haveHome) {
        for (const HomeDescription& home : description.homes)
            for (const RoomDescription& room : home.rooms)
                for (const AccessoryDescription& accessory : room.accessories) {
                    if (!accessory.hap) continue;
                    const std::string id = device::dnssd::deviceIdKey(accessory.hap->pairingId);
                    if (advertised_.count(id)) continue;
                    list.push_back({{"name", accessory.name},
                                    {"id", id},
                                    {"model", ""},
                                    {"category", ""},
                                    {"paired", true},
                                    {"address", accessory.hap->host},
                                    {"port", accessory.hap->port},
                                    {"configuration", accessory.hap->configuration},
                                    {"lamp", accessory.name},
                                    {"onNetwork", false}});
                }
    }
    feed_.publishAccessories(list.dump(-1, ' ', false, json::error_handler_t::replace));
}
