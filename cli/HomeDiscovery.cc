#include "HomeDiscovery.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <iomanip>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include <Foundation/PrintableText.h>
#include <dnssd/HapBrowser.h>
#include <homes/HomeDescription.h>

namespace {

using json = nlohmann::ordered_json;
using device::dnssd::HapAdvertisement;
using device::dnssd::ServiceBrowser;

constexpr std::chrono::seconds kPairingSearch{5};

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "glimmora home: " << message << "\n";
    throw CLI::RuntimeError(1);
}

std::shared_ptr<ServiceBrowser> startBrowser() {
    device::StatusOr<std::shared_ptr<ServiceBrowser>> browser = device::dnssd::sharedHapBrowser();
    if (!browser.ok()) fail("cannot look for accessories on the network: " + browser.status().message());
    if (!(*browser)->onSharedPort())
        std::cerr << "glimmora home: port 5353 is held by a program that does not share it: only accessories that "
                     "answer one-shot queries are found, and announcements are not heard\n";
    return *browser;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
    return text;
}

void discover(double seconds, bool asJson) {
    std::shared_ptr<ServiceBrowser> browser = startBrowser();
    const std::map<std::string, std::string> lamps = pairedLampNames();
    if (!asJson)
        std::cerr << "Looking for HomeKit accessories on " << joined(browser->interfaceNames()) << " for " << seconds
                  << " s...\n";

    struct Seen {
        std::mutex lock;
        std::condition_variable changed;
        std::map<std::string, HapAdvertisement> accessories;  // by device identifier, in order of arrival below
        std::vector<std::string> order;
    };
    auto seen = std::make_shared<Seen>();
    auto row = [&](const HapAdvertisement& a) {
        auto lamp = lamps.find(a.id);
        std::ostringstream line;
        line << std::left << std::setw(24) << device::printable(a.name) << " " << std::setw(17) << a.id << " "
             << std::setw(16) << device::printable(a.model) << " " << std::setw(10)
             << device::dnssd::categoryName(a.category) << " " << std::setw(6) << (a.paired ? "yes" : "no") << " "
             << std::setw(22) << device::printable(a.host) + ":" + std::to_string(a.port) << " "
             << (lamp == lamps.end() ? "-" : device::quotedPrintable(lamp->second));
        return line.str();
    };
    if (!asJson)
        std::cout << std::left << std::setw(24) << "NAME"
                  << " " << std::setw(17) << "ID"
                  << " " << std::setw(16) << "MODEL"
                  << " " << std::setw(10) << "CATEGORY"
                  << " " << std::setw(6) << "PAIRED"
                  << " " << std::setw(22) << "ADDRESS"
                  << " "
                  << "HERE AS" << std::endl;
    ServiceBrowser::Subscription subscription =
        browser->listen([seen](ServiceBrowser::Change change, const device::dnssd::ServiceInstance& instance) {
            std::optional<HapAdvertisement> accessory = device::dnssd::readHapAdvertisement(instance);
            if (!accessory) return;
            std::lock_guard<std::mutex> guard(seen->lock);
            if (change == ServiceBrowser::Change::gone) return;
            if (!seen->accessories.count(accessory->id)) seen->order.push_back(accessory->id);
            seen->accessories[accessory->id] = *accessory;
            seen->changed.notify_all();
        });
    // Each accessory is listed as it arrives, so that the first shows at once.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::lround(seconds * 1000));
    size_t listed = 0;
    std::unique_lock<std::mutex> guard(seen->lock);
    for (;;) {
        bool more = seen->changed.wait_until(guard, until, [&] { return seen->order.size() > listed; });
        if (!asJson)
            for (; listed < seen->order.size(); ++listed)
                std::cout << row(seen->accessories.at(seen->order[listed])) << std::endl;
        if (!more) break;
        if (asJson) listed = seen->order.size();
    }
    if (asJson) {
        json list = json::array();
        for (const std::string& id : seen->order) {
            const HapAdvertisement& a = seen->accessories.at(id);
            list.push_back(advertisementJson(a, lamps));
        }
        std::cout << list.dump(2) << "\n";
    } else if (seen->order.empty()) {
        std::cout << "No HomeKit accessory answered. Is it on and on this network? `home pair` also takes "
                     "--address and --port for a network where multicast does not pass.\n";
    }
}

}  // namespace

std::map<std::string, std::string> pairedLampNames() {
    HomesDescription description;
    bool missing = false;
    std::string path = homeDescriptionPath();
    if (!readHomeDescription(path, path, &description, &missing).ok()) return {};
    return pairedLampNames(description);
}

std::map<std::string, std::string> pairedLampNames(const HomesDescription& description) {
    std::map<std::string, std::string> names;
    for (const HomeDescription& home : description.homes)
        for (const RoomDescription& room : home.rooms)
            for (const AccessoryDescription& accessory : room.accessories)
                if (accessory.hap) names[device::dnssd::deviceIdKey(accessory.hap->pairingId)] = accessory.name;
    return names;
}

nlohmann::ordered_json advertisementJson(const HapAdvertisement& a, const std::map<std::string, std::string>& lamps) {
    auto lamp = lamps.find(a.id);
    return {{"name", a.name},
            {"id", a.id},
            {"model", a.model},
            {"category", device::dnssd::categoryName(a.category)},
            {"paired", a.paired},
            {"address", a.host},
            {"port", a.port},
            {"configuration", a.configuration},
            {"lamp", lamp == lamps.end() ? json(nullptr) : json(lamp->second)}};
}

void addDiscoverCommand(CLI::App* home) {
    auto seconds = std::make_shared<double>(2.0);
    auto asJson = std::make_shared<bool>(false);
    CLI::App* command = home->add_subcommand(
        "discover",
        "List the HomeKit accessories that advertise themselves on the local network (DNS-SD, _hap._tcp): "
        "name, device identifier, model, category, whether a controller has paired with it, address, and the "
        "lamp of this device it is, if any. Pair one with `glimmora home pair NAME --room ROOM --code CODE --id ID`");
    command->add_option("--seconds", *seconds, "How long to listen (default 2)")->check(CLI::Range(0.1, 600.0));
    command->add_flag("--json", *asJson, "Print the accessories as JSON, at the end");
    command->callback([seconds, asJson] { discover(*seconds, *asJson); });
}

device::Status findAccessoryToPair(const std::string& id, const std::string& name, FoundAccessory* found) {
    device::StatusOr<std::shared_ptr<ServiceBrowser>> browser = device::dnssd::sharedHapBrowser();
    if (!browser.ok())
        return device::Status::error("cannot look for the accessory on the network (" + browser.status().message() +
                                     "); give its --address and --port");
    std::optional<HapAdvertisement> accessory;
    if (!id.empty()) {
        accessory = device::dnssd::waitForAccessory(
            **browser, [&](const HapAdvertisement& a) { return device::dnssd::sameDeviceId(a.id, id); },
            kPairingSearch);
        if (!accessory)
            return device::Status::error("no accessory with the identifier " + device::quotedPrintable(id) +
                                         " answered on the network within " + std::to_string(kPairingSearch.count()) +
                                         " s (`glimmora home discover` "
                                         "lists those that do)");
    } else {
        // A name must be one accessory's alone: wait the whole time, so that a second of that name is seen.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        std::vector<HapAdvertisement> named;
        for (const device::dnssd::ServiceInstance& instance : (*browser)->instances())
            if (std::optional<HapAdvertisement> a = device::dnssd::readHapAdvertisement(instance); a && a->name == name)
                named.push_back(*a);
        if (named.empty())
            return device::Status::error("no accessory advertises the name " + device::quotedPrintable(name) +
                                         " on the network; give its --id (`glimmora home discover` lists them) or its "
                                         "--address and --port");
        if (named.size() > 1) {
            std::string ids;
            for (const HapAdvertisement& a : named) ids += (ids.empty() ? "" : ", ") + a.id;
            return device::Status::error(std::to_string(named.size()) + " accessories advertise the name " +
                                         device::quotedPrintable(name) + " (" + ids + "): give the --id of one");
        }
        accessory = named.front();
    }
    found->host = accessory->host;
    found->port = accessory->port;
    found->configuration = accessory->configuration;
    return device::Status::OK();
}
