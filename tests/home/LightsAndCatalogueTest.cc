// Which lights the controller drives, the catalogue it publishes, and its creation.
#include <atomic>
#include <thread>

#include <Foundation/NSThread.h>

#include "HomeFixture.h"
#include "TestHome.h"

namespace {

std::vector<std::string> names(const std::vector<Strong<HMService>>& services) {
    std::vector<std::string> result;
    for (const auto& service : services) result.push_back(service->name()->UTF8String());
    return result;
}

std::vector<std::string> strings(const Strong<NSObject>& value) {
    std::vector<std::string> result;
    if (auto* array = objc_cast<NSArray>(value.get()))
        for (const auto& element : *array) result.push_back(element->description());
    return result;
}

using Lights = HomeTest;

TEST_F(Lights, OnlyLightbulbsOfSelectedRoomsInHomeRoomAccessoryAndServiceOrder) {
    writeHome(testHome);
    auto controller = makeController();
    EXPECT_TRUE(controller->lights().empty());

    select(guestRoomIdentifier);
    select(livingRoomIdentifier);
    select(kitchenIdentifier, false);
    EXPECT_EQ(names(controller->lights()),
              (std::vector<std::string>{"Lamp", "Bare Bulb", "Strip A", "Strip B", "Cabin Lamp"}));

    // The same services on every walk.
    EXPECT_EQ(controller->lights()[2].get(), controller->lights()[2].get());
}

TEST_F(Lights, ASwitchCountsOnlyUnderTheExactIdentifierText) {
    writeHome(testHome);
    auto controller = makeController();
    for (const char* form : {"b0000000-0000-4000-8000-000000000012", "B0000000000040008000000000000012",
                             "{B0000000-0000-4000-8000-000000000012}"})
        select(form);
    EXPECT_TRUE(controller->lights().empty());

    select(kitchenIdentifier);
    EXPECT_EQ(names(controller->lights()), std::vector<std::string>{"Kitchen Lamp"});
}

TEST_F(Lights, NoHomesGiveNoLightsAndNoCatalogue) {
    writeHome(R"({"homes": []})");
    auto controller = makeController(false);
    EXPECT_TRUE(controller->lights().empty());

    settings()->setObject_forKey(NSSTR("kept"), homesKey());
    controller->saveHomesAndRooms();
    EXPECT_TRUE(settings()->objectForKey(homesKey())->isEqual(NSSTR("kept")));
    EXPECT_FALSE(settings()->objectForKey(roomsKey()));
}

using Catalogue = HomeTest;

TEST_F(Catalogue, ListsEveryHomeAndEveryRoomWithTheirIdentifierTexts) {
    writeHome(testHome);
    auto controller = makeController();
    controller->saveHomesAndRooms();
    EXPECT_EQ(
        strings(settings()->objectForKey(homesKey())),
        (std::vector<std::string>{std::string("Casa_") + casaIdentifier, std::string("Cabin_") + cabinIdentifier}));
    EXPECT_EQ(strings(settings()->objectForKey(roomsKey())),
              (std::vector<std::string>{std::string("Living Room_") + livingRoomIdentifier + "_" + casaIdentifier,
                                        std::string("Kitchen_") + kitchenIdentifier + "_" + casaIdentifier,
                                        std::string("Guest_Room_") + guestRoomIdentifier + "_" + cabinIdentifier}));
}

TEST_F(Catalogue, TakesEachNameWholeANulInsideIncluded) {
    writeHome(R"({"homes": [{"name": "Ca\u0000sa", "uuid": "A0000000-0000-4000-8000-000000000001", "primary": true,
                   "rooms": [{"name": "K\u0000_\u0000", "uuid": "B0000000-0000-4000-8000-000000000012"}]}]})");
    auto controller = makeController();
    controller->saveHomesAndRooms();
    using namespace std::string_literals;
    EXPECT_EQ(strings(settings()->objectForKey(homesKey())), std::vector<std::string>{"Ca\0sa_"s + casaIdentifier});
    EXPECT_EQ(strings(settings()->objectForKey(roomsKey())),
              std::vector<std::string>{"K\0_\0_"s + kitchenIdentifier + "_" + casaIdentifier});
}

// Counts the catalogue runs of a new controller.
class CountingHomeManager : public HomeManager {
public:
    static Class objcClass() { return HomeManager::objcClass(); }
    void saveHomesAndRooms() override {
        ++runs;
        onMainThread = NSThread::isMainThread();
        ranAt = RunLoopClock::now();
    }
    int runs = 0;
    bool onMainThread = false;
    RunLoopClock::time_point ranAt;
};

TEST_F(Catalogue, IsScheduledOnceOnTheMainQueueTwoSecondsAfterCreation) {
    writeHome(testHome);
    auto created = RunLoopClock::now();
    auto controller = makeObject<CountingHomeManager>();
    controller->init();
    ASSERT_TRUE(runUntil([&] { return controller->runs > 0; }));
    EXPECT_GE(controller->ranAt - created, std::chrono::seconds(2));
    EXPECT_TRUE(controller->onMainThread);
    runUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(controller->runs, 1);
}

using SharedManager = HomeTest;

TEST_F(SharedManager, IsOneInstanceAlsoWhenFirstCallsRace) {
    writeHome(testHome);
    std::atomic<HomeManager*> seen[4] = {};
    std::vector<std::thread> threads;
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = HomeManager::sharedManager(); });
    for (auto& thread : threads) thread.join();
    for (auto& slot : seen) EXPECT_EQ(slot.load(), HomeManager::sharedManager());
    EXPECT_NE(HomeManager::sharedManager(), nullptr);
    EXPECT_EQ(objc_msgSend<id>(objc_getClass("HomeManager"), SEL_(sharedManager)), HomeManager::sharedManager());
}

}  // namespace
