#include "HapBrowser.h"

#include <condition_variable>
#include <mutex>

namespace device::dnssd {

StatusOr<std::shared_ptr<ServiceBrowser>> sharedHapBrowser() {
    static std::mutex lock;
    static std::weak_ptr<ServiceBrowser> running;
    std::lock_guard<std::mutex> guard(lock);
    if (std::shared_ptr<ServiceBrowser> browser = running.lock()) return browser;
    StatusOr<std::shared_ptr<ServiceBrowser>> started = ServiceBrowser::start(kHapService);
    if (started.ok()) running = *started;
    return started;
}

std::optional<HapAdvertisement> waitForAccessory(ServiceBrowser& browser,
                                                 const std::function<bool(const HapAdvertisement&)>& wanted,
                                                 std::chrono::milliseconds patience) {
    struct Found {
        std::mutex lock;
        std::condition_variable arrived;
        std::optional<HapAdvertisement> accessory;
    };
    auto found = std::make_shared<Found>();
    ServiceBrowser::Subscription subscription =
        browser.listen([found, &wanted](ServiceBrowser::Change change, const ServiceInstance& instance) {
            if (change == ServiceBrowser::Change::gone) return;
            std::optional<HapAdvertisement> accessory = readHapAdvertisement(instance);
            if (!accessory || !wanted(*accessory)) return;
            std::lock_guard<std::mutex> guard(found->lock);
            if (!found->accessory) found->accessory = std::move(accessory);
            found->arrived.notify_all();
        });
    std::unique_lock<std::mutex> guard(found->lock);
    found->arrived.wait_for(guard, patience, [&] { return found->accessory.has_value(); });
    return found->accessory;
}

}  // namespace device::dnssd
