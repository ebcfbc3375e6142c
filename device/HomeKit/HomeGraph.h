// HomeGraph: one manager's HomeKit objects (homes, rooms, accessories, services, characteristics),
// built from the home description and the accessories' stored state, and built again in place
// when the description changes: an object whose identifier (and, for services and
// characteristics, type) stays is kept, the same object with its contents brought up to date, so
// that what a process holds of it (a dictionary keyed by characteristic) stays good. An accessory
// whose description is unchanged keeps its link (a real lamp its session); the links of accessories
// that changed or left are closed. Device only.
//
// Made anywhere; used, and let go, on the HomeKit queue.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "../Foundation/Foundation.h"

#include "../base/Status.h"

class HMAccessory;
class HMCharacteristic;
class HMHome;
class HMRoom;
class HMService;
class AccessoryStore;

class HomeGraph {
public:
    // The objects of the description in `directory`. `reachabilityChanged` runs on the HomeKit
    // queue when a built accessory's reachability changes.
    HomeGraph(std::string directory, std::function<void(HMAccessory*, bool reachable)> reachabilityChanged);
    // Closes every link.
    ~HomeGraph();
    HomeGraph(const HomeGraph&) = delete;
    HomeGraph& operator=(const HomeGraph&) = delete;

    struct Update {
        Strong<NSArray> homes;  // HMHome objects in description order; nil when `problem` is set
        // Brings the kept objects' contents up to date; run it on the main queue, before the homes
        // are handed out.
        std::function<void()> apply;
        device::Status problem;  // why the description could not be used at all
    };
    // Reads "home.json", gives every described characteristic without a row in the accessory state
    // its described value, reads the state, and builds the objects, keeping those it built before.
    // A missing or malformed description gives a problem and no homes, and changes nothing. When
    // the state cannot be read the homes are still built, with the described values, and `warning`
    // says so; writes then try the state again.
    Update load(std::string* warning);

private:
    struct Built;
    struct Registry;  // what the links' reachability reports reach, across loads
    std::string directory_;
    std::shared_ptr<Registry> registry_;
    std::shared_ptr<AccessoryStore> store_;
    std::unique_ptr<Built> built_;
};
