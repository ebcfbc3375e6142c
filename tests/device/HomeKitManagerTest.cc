// HomeKit as the light controller meets it: homes that arrive on the main queue, a graph of
// objects that stays the same, and writes that complete off the main thread with latency, faults
// and shared state.
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <HomeKit/HomeKit.h>
#include <HomeKit/HomeKitClasses.h>
#include <homes/HomeDescription.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

// One home with a colour lamp, a lamp without metadata, a slow lamp and two faulty accessories,
// and a second home; the unreachable one times out quickly so the tests stay short.
const char* const kDescription = R"({"homes": [
  {"name": "Flat", "rooms": [
    {"name": "Lounge", "uuid": "aaaaaaaa-1111-4111-8111-111111111111", "accessories": [
      {"name": "Lamp", "latencyMs": 5, "services": [{"type": "lightbulb", "characteristics": [
        {"type": "power", "value": false, "metadata": {"format": "bool"}},
        {"type": "brightness", "value": 10, "metadata": {"format": "int", "minimumValue": 0, "maximumValue": 100, "stepValue": 1}},
        {"type": "hue", "value": 0, "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 360, "stepValue": 1}}]}]},
      {"name": "Bare", "latencyMs": 5, "services": [{"type": "lightbulb", "characteristics": [{"type": "hue"}]}]}]},
    {"name": "Cellar", "accessories": [
      {"name": "Slow", "latencyMs": 150, "services": [{"type": "lightbulb", "characteristics": [
        {"type": "brightness", "value": 0, "metadata": {"format": "int", "minimumValue": 0, "maximumValue": 100}}]}]},
      {"name": "Broken", "latencyMs": 5, "fault": "error", "services": [{"type": "outlet", "characteristics": [
        {"type": "power", "value": true}]}]},
      {"name": "Gone", "fault": "unreachable", "timeoutMs": 40, "services": [{"type": "switch", "characteristics": [
        {"type": "power", "value": true}]}]}]}]},
  {"name": "Cabin", "primary": true, "rooms": [{"name": "Loft"}]}]})";

// What one write's completion saw.
struct Outcome {
    std::mutex lock;
    std::condition_variable changed;
    int calls = 0;
    bool onMainThread = true;
    NSInteger code = -1;  // 0 for success
    std::string text;

    Strong<Block<void(NSError*)>> completion() {
        return makeBlock([this](NSError* error) {
            std::lock_guard<std::mutex> guard(lock);
            ++calls;
            onMainThread = NSThread::isMainThread();
            code = error ? error->code() : 0;
            if (error) text = error->domain()->string() + ": " + error->localizedDescription()->string();
            changed.notify_all();
        });
    }
    // Waits until the completion has run at least once, at most ten seconds.
    bool wait() {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, 10s, [&] { return calls > 0; });
    }
};

class HomeKitTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(NSThread::isMainThread());
        setenv("GLIMMORA_DEVICE", device_.path().c_str(), 1);
    }

    void install(const char* text = kDescription) {
        ASSERT_EQ(installHomeDescription(device_.path(), text).message(), "");
    }

    // Runs the main run loop until `condition` holds; false after ten seconds without it.
    template <class F>
    static bool runMainUntil(F condition, std::chrono::milliseconds limit = 10s) {
        auto deadline = RunLoopClock::now() + limit;
        while (!condition()) {
            if (RunLoopClock::now() >= deadline) return false;
            NSRunLoop::mainRunLoop()->runMode_beforeDate(NSDefaultRunLoopMode, RunLoopClock::now() + 20ms);
        }
        return true;
    }

    static Strong<HMHomeManager> loadedManager() {
        auto manager = Strong<HMHomeManager>::adopt(HMHomeManager::alloc()->init());
        EXPECT_TRUE(runMainUntil([&] { return manager->homes()->count() > 0; })) << "the homes never arrived";
        return manager;
    }

    // The characteristic of `type` on the first service of the accessory called `accessoryName`.
    static HMCharacteristic* find(HMHomeManager* manager, const std::string& accessoryName, NSString* type) {
        for (const auto& home : *manager->homes()) {
            for (const auto& accessory : *static_cast<HMHome*>(home.get())->accessories()) {
                auto* a = static_cast<HMAccessory*>(accessory.get());
                if (a->name()->string() != accessoryName) continue;
                auto* service = static_cast<HMService*>(a->services()->firstObject());
                for (const auto& c : *service->characteristics()) {
                    auto* characteristic = static_cast<HMCharacteristic*>(c.get());
                    if (characteristic->characteristicType()->isEqual(type)) return characteristic;
                }
            }
        }
        ADD_FAILURE() << "no " << type->string() << " on " << accessoryName;
        return nullptr;
    }

    // Writes `value` and waits for the completion, which must come exactly once.
    static std::pair<NSInteger, std::string> write(HMCharacteristic* characteristic, NSObject* value) {
        Outcome outcome;
        characteristic->writeValue_completionHandler(value, outcome.completion());
        EXPECT_TRUE(outcome.wait()) << "the write never completed";
        std::lock_guard<std::mutex> guard(outcome.lock);
        EXPECT_EQ(outcome.calls, 1);
        EXPECT_FALSE(outcome.onMainThread);
        return {outcome.code, outcome.text};
    }

    // What `glimmora home show --json` prints, parsed; it reads the accessory state in its own process.
    static nlohmann::json showFromAnotherProcess() {
        ProcessResult result = runProcess({glimmoraCommand(), "home", "show", "--json"});
        EXPECT_FALSE(result.timedOut) << "`glimmora home show` did not end";
        EXPECT_EQ(result.exitCode, 0) << result.err;
        nlohmann::json shown = nlohmann::json::parse(result.out, nullptr, false);
        if (shown.is_discarded()) {
            ADD_FAILURE() << "`glimmora home show --json` printed no JSON: " << result.out;
            return nlohmann::json::object();
        }
        return shown;
    }

    std::string systemLog() const {
        std::ifstream file(device_.path() + "/system.log");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    TempDirectory device_;
};

// A run-time object answering homeManagerDidUpdateHomes:, counting the calls and their threads.
struct DelegateCalls {
    std::atomic<int> total{0};
    std::atomic<int> offMain{0};
};
DelegateCalls delegateCalls;

void didUpdateHomes(id, SEL, id) {
    delegateCalls.total++;
    if (!NSThread::isMainThread()) delegateCalls.offMain++;
}

Strong<NSObject> makeDelegate() {
    static Class cls = [] {
        Class c = objc_allocateClassPair(NSObject::objcClass(), "HomeKitTestDelegate", 0);
        class_addMethod(c, sel_registerName("homeManagerDidUpdateHomes:"), reinterpret_cast<IMP>(didUpdateHomes),
                        "v24@0:8@16");
        objc_registerClassPair(c);
        return c;
    }();
    return Strong<NSObject>::adopt(class_createInstance(cls, 0));
}

// --- Homes ---------------------------------------------------------------------------------------

TEST_F(HomeKitTest, HomesArriveOnlyWhenTheMainRunLoopRunsAndTellTheDelegateThere) {
    install();
    delegateCalls.total = 0;
    delegateCalls.offMain = 0;
    // Made through the run-time, as the system does: `new` must reach the manager's own init.
    device::registerHomeKitClasses();
    auto manager = Strong<HMHomeManager>::adopt(
        objc_cast<HMHomeManager>(objc_msgSend<id>(objc_getClass("HMHomeManager"), SEL_(new))));
    ASSERT_NE(manager.get(), nullptr);
    Strong<NSObject> delegate = makeDelegate();
    objc_msgSend<void>(manager.get(), SEL_(setDelegate:), delegate.get());
    EXPECT_EQ(manager->homes()->count(), 0u);
    EXPECT_EQ(manager->primaryHome(), nil);

    // Loading happens off the main thread, but delivery waits for the main run loop.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(manager->homes()->count(), 0u) << "homes must not arrive while the main run loop is idle";
    EXPECT_EQ(delegateCalls.total.load(), 0);

    ASSERT_TRUE(runMainUntil([&] { return delegateCalls.total.load() > 0; }));
    EXPECT_EQ(delegateCalls.total.load(), 1);
    EXPECT_EQ(delegateCalls.offMain.load(), 0);
    ASSERT_EQ(manager->homes()->count(), 2u);
    HMHome* primary = manager->primaryHome();
    ASSERT_NE(primary, nil);
    EXPECT_EQ(primary->name()->string(), "Cabin") << "the home marked primary, not the first";
    EXPECT_TRUE(primary->isPrimary());
    EXPECT_FALSE(static_cast<HMHome*>(manager->homes()->firstObject())->isPrimary());
    manager->setDelegate(nil);
}

// The home as a running process sees it when `glimmora home load` or `pair` installs a new one.
TEST_F(HomeKitTest, AChangedHomeIsUpdatedInPlaceAndAMalformedOneChangesNothing) {
    install();
    delegateCalls.total = 0;
    Strong<HMHomeManager> manager = loadedManager();
    Strong<NSObject> delegate = makeDelegate();
    manager->setDelegate(delegate.get());
    Strong<HMCharacteristic> brightness(find(manager, "Lamp", HMCharacteristicTypeBrightness));
    ASSERT_TRUE(brightness);
    auto* lounge = static_cast<HMRoom*>(static_cast<HMHome*>(manager->homes()->firstObject())->rooms()->firstObject());
    Strong<HMRoom> loungeHeld(lounge);
    Strong<HMCharacteristic> slow(find(manager, "Slow", HMCharacteristicTypeBrightness));
    Strong<HMCharacteristic> gone(find(manager, "Broken", HMCharacteristicTypePowerState));
    ASSERT_EQ(write(brightness.get(), NSNumber::numberWithInteger(42)).first, 0);

    // A lamp added to the cellar, the faulty ones gone, and a new room.
    std::string changed = kDescription;
    size_t broken = changed.find(R"(,
      {"name": "Broken")");
    size_t end = changed.find("]}]},\n  {\"name\": \"Cabin\"");
    ASSERT_NE(broken, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    changed.replace(broken, end - broken, R"(,
      {"name": "Reading", "latencyMs": 5, "services": [{"type": "lightbulb", "characteristics": [
        {"type": "brightness", "value": 7}]}]}]},
    {"name": "Study", "accessories": [)");
    install(changed.c_str());
    ASSERT_TRUE(runMainUntil([&] { return delegateCalls.total.load() == 1; })) << "the delegate was not told";

    HMHome* flat = static_cast<HMHome*>(manager->homes()->firstObject());
    ASSERT_EQ(flat->rooms()->count(), 3u);
    EXPECT_EQ(flat->rooms()->firstObject(), loungeHeld.get()) << "a room that stays is the same object";
    auto* cellar = static_cast<HMRoom*>(flat->rooms()->objectAtIndex(1));
    EXPECT_EQ(static_cast<HMRoom*>(flat->rooms()->objectAtIndex(2))->name()->string(), "Study");
    EXPECT_EQ(find(manager, "Lamp", HMCharacteristicTypeBrightness), brightness.get())
        << "a characteristic that stays is the same object, so what a process keys by it stays good";
    EXPECT_TRUE(brightness->value()->isEqual(NSNumber::numberWithInteger(42))) << "and it keeps its value";
    HMCharacteristic* reading = find(manager, "Reading", HMCharacteristicTypeBrightness);
    ASSERT_NE(reading, nil);
    EXPECT_EQ(cellar->accessories()->count(), 2u);
    EXPECT_EQ(static_cast<HMAccessory*>(cellar->accessories()->objectAtIndex(1))->room(), cellar);
    EXPECT_EQ(write(reading, NSNumber::numberWithInteger(70)).first, 0) << "a new lamp takes writes at once";
    EXPECT_EQ(find(manager, "Slow", HMCharacteristicTypeBrightness), slow.get());
    EXPECT_EQ(write(gone.get(), NSNumber::numberWithBool(YES)).first, HMErrorCodeAccessoryNotReachable)
        << "a characteristic still held of an accessory that left reaches nothing";
    std::vector<std::string> names;
    for (const auto& accessory : *flat->accessories())
        names.push_back(static_cast<HMAccessory*>(accessory.get())->name()->string());
    EXPECT_EQ(names, (std::vector<std::string>{"Lamp", "Bare", "Slow", "Reading"}));

    // A description broken on disk is logged once and leaves the home as it was.
    ASSERT_EQ(installHomeDescription(device_.path(), "{\"homes\": [").message(), "");
    EXPECT_TRUE(runMainUntil([&] { return systemLog().find("was not loaded") != std::string::npos; }));
    runMainUntil([] { return false; }, 300ms);
    EXPECT_EQ(delegateCalls.total.load(), 1);
    EXPECT_EQ(manager->homes()->count(), 2u);
    EXPECT_EQ(find(manager, "Reading", HMCharacteristicTypeBrightness), reading);
    manager->setDelegate(nil);
}

TEST_F(HomeKitTest, EveryWalkMeetsTheSameObjectsInDescriptionOrder) {
    install();
    Strong<HMHomeManager> manager = loadedManager();
    auto names = [](NSArray* objects) {
        std::vector<std::string> out;
        for (const auto& object : *objects) out.push_back(objc_msgSend<id>(object.get(), SEL_(name))->description());
        return out;
    };
    auto* flat = static_cast<HMHome*>(manager->homes()->firstObject());
    EXPECT_EQ(names(flat->rooms()), (std::vector<std::string>{"Lounge", "Cellar"}));
    EXPECT_EQ(names(flat->accessories()), (std::vector<std::string>{"Lamp", "Bare", "Slow", "Broken", "Gone"}));
    EXPECT_EQ(static_cast<HMHome*>(manager->homes()->objectAtIndex(1))->rooms()->count(), 1u);

    // The walk the light controller makes, through the run-time, lands on the C++ objects' own
    // members and on the same objects every time.
    auto walk = [&] {
        std::vector<id> seen;
        id homes = objc_msgSend<id>(manager.get(), SEL_(homes));
        for (const auto& home : *objc_cast<NSArray>(homes))
            for (const auto& room : *objc_cast<NSArray>(objc_msgSend<id>(home.get(), SEL_(rooms))))
                for (const auto& accessory : *objc_cast<NSArray>(objc_msgSend<id>(room.get(), SEL_(accessories))))
                    for (const auto& service : *objc_cast<NSArray>(objc_msgSend<id>(accessory.get(), SEL_(services))))
                        for (const auto& c :
                             *objc_cast<NSArray>(objc_msgSend<id>(service.get(), SEL_(characteristics)))) {
                            seen.push_back(c.get());
                            EXPECT_EQ(objc_msgSend<id>(c.get(), SEL_(service)), service.get());
                            EXPECT_EQ(objc_msgSend<id>(service.get(), SEL_(accessory)), accessory.get());
                            EXPECT_EQ(objc_msgSend<id>(accessory.get(), SEL_(room)), room.get());
                        }
        return seen;
    };
    std::vector<id> first = walk();
    EXPECT_EQ(first.size(), 7u);
    EXPECT_EQ(walk(), first);

    HMCharacteristic* brightness = find(manager, "Lamp", HMCharacteristicTypeBrightness);
    ASSERT_NE(brightness, nullptr);
    ASSERT_NE(brightness->metadata(), nil);
    EXPECT_EQ(brightness->metadata()->maximumValue()->integerValue(), 100);
    EXPECT_EQ(brightness->metadata()->stepValue()->integerValue(), 1);
    EXPECT_EQ(brightness->metadata()->format()->string(), "int");
    EXPECT_EQ(brightness->metadata()->units(), nil);
    EXPECT_TRUE(brightness->value()->isEqual(NSNumber::numberWithInteger(10)));
    HMCharacteristic* bareHue = find(manager, "Bare", HMCharacteristicTypeHue);
    ASSERT_NE(bareHue, nullptr);
    EXPECT_EQ(bareHue->metadata(), nil);
    EXPECT_EQ(bareHue->value().get(), nil) << "no described value and nothing stored: unknown";
    EXPECT_FALSE(static_cast<HMAccessory*>(flat->accessories()->objectAtIndex(4))->isReachable());
}

TEST_F(HomeKitTest, IdentifiersAreTheSameInEveryManagerAndEveryProcess) {
    install();
    auto identifiers = [](HMHomeManager* manager) {
        std::vector<std::string> out;
        for (const auto& home : *manager->homes()) {
            auto* h = static_cast<HMHome*>(home.get());
            out.push_back(h->uniqueIdentifier()->UUIDString()->string());
            for (const auto& room : *h->rooms())
                out.push_back(static_cast<HMRoom*>(room.get())->uniqueIdentifier()->uuidText()->string());
            for (const auto& accessory : *h->accessories()) {
                auto* a = static_cast<HMAccessory*>(accessory.get());
                out.push_back(a->uniqueIdentifier()->uuidText()->string());
                for (const auto& service : *a->services()) {
                    out.push_back(static_cast<HMService*>(service.get())->uniqueIdentifier()->uuidText()->string());
                    for (const auto& c : *static_cast<HMService*>(service.get())->characteristics())
                        out.push_back(
                            static_cast<HMCharacteristic*>(c.get())->uniqueIdentifier()->uuidText()->string());
                }
            }
        }
        return out;
    };
    std::vector<std::string> first = identifiers(loadedManager());
    EXPECT_EQ(identifiers(loadedManager()), first);
    std::set<std::string> distinct(first.begin(), first.end());
    EXPECT_EQ(distinct.size(), first.size());
    EXPECT_EQ(first[1], "AAAAAAAA-1111-4111-8111-111111111111") << "a given uuid is kept, in upper case";

    nlohmann::json shown = showFromAnotherProcess();
    ASSERT_TRUE(shown.is_object());
    EXPECT_EQ(shown["homes"][0]["uuid"], first[0]);
    EXPECT_EQ(shown["homes"][0]["rooms"][1]["uuid"], first[2]);
}

TEST_F(HomeKitTest, AMissingOrMalformedDescriptionGivesNoHomesAndIsLoggedOnce) {
    delegateCalls.total = 0;
    Strong<NSObject> delegate = makeDelegate();
    auto missing = Strong<HMHomeManager>::adopt(HMHomeManager::alloc());
    missing->setDelegate(delegate);
    missing->init();
    ASSERT_TRUE(runMainUntil([&] { return delegateCalls.total.load() == 1; })) << "loading ends, even without homes";
    EXPECT_EQ(missing->homes()->count(), 0u);
    EXPECT_EQ(missing->primaryHome(), nil);
    missing->setDelegate(nil);
    EXPECT_THAT(systemLog(), HasSubstr("no home description at " + device_.path() + "/home.json"));
    missing = nullptr;  // else it would see the next description arrive, and log it too

    install("{\"homes\": [\n  {\"name\": \"Flat\",\n   \"rooms\": 3}]}");
    auto malformed = Strong<HMHomeManager>::adopt(HMHomeManager::alloc());
    malformed->setDelegate(delegate);
    malformed->init();
    ASSERT_TRUE(runMainUntil([&] { return delegateCalls.total.load() == 2; }));
    EXPECT_EQ(malformed->homes()->count(), 0u);
    malformed->setDelegate(nil);
    std::string log = systemLog();
    std::string reason = "home.json:3: home \"Flat\": \"rooms\" must be an array, not a number";
    ASSERT_THAT(log, HasSubstr(reason));
    EXPECT_EQ(log.find(reason), log.rfind(reason)) << "logged once";
}

// --- Writes ----------------------------------------------------------------------------------------

TEST_F(HomeKitTest, AWriteCompletesOffTheMainThreadAndIsSeenByOtherManagersAndProcesses) {
    install();
    Strong<HMHomeManager> manager = loadedManager();
    HMCharacteristic* brightness = find(manager, "Lamp", HMCharacteristicTypeBrightness);
    ASSERT_NE(brightness, nullptr);

    auto issued = std::chrono::steady_clock::now();
    std::atomic<std::chrono::steady_clock::time_point> completedAt{};
    Outcome outcome;
    Strong<Block<void(NSError*)>> record = outcome.completion();
    // Through the run-time, with the type string the system's call is checked against.
    objc_msgSend<void>(brightness, SEL_(writeValue:completionHandler:),
                       static_cast<id>(NSNumber::numberWithInteger(42).get()),
                       static_cast<id>(makeBlock([&, record](NSError* error) {
                                           completedAt = std::chrono::steady_clock::now();
                                           (*record)(error);
                                       }).get()));
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.code, 0) << outcome.text;
    EXPECT_FALSE(outcome.onMainThread);
    EXPECT_GE(completedAt.load(), issued);
    EXPECT_TRUE(brightness->value()->isEqual(NSNumber::numberWithInteger(42)));
    auto owned = Strong<NSObject>::adopt(objc_msgSend<id>(brightness, SEL_(value)));
    EXPECT_TRUE(owned->isEqual(NSNumber::numberWithInteger(42)));

    EXPECT_TRUE(find(loadedManager(), "Lamp", HMCharacteristicTypeBrightness)
                    ->value()
                    ->isEqual(NSNumber::numberWithInteger(42)));
    nlohmann::json shown = showFromAnotherProcess();
    EXPECT_EQ(shown["homes"][0]["rooms"][0]["lights"][0]["brightness"], 42);
    EXPECT_EQ(shown["homes"][0]["rooms"][0]["lights"][0]["power"], false);
}

TEST_F(HomeKitTest, ValuesThatDoNotSuitTheMetadataAreRefusedAndChangeNothing) {
    install();
    Strong<HMHomeManager> manager = loadedManager();
    HMCharacteristic* brightness = find(manager, "Lamp", HMCharacteristicTypeBrightness);
    HMCharacteristic* hue = find(manager, "Lamp", HMCharacteristicTypeHue);
    HMCharacteristic* power = find(manager, "Lamp", HMCharacteristicTypePowerState);
    ASSERT_TRUE(brightness && hue && power);
    struct Case {
        HMCharacteristic* characteristic;
        Strong<NSObject> value;
        NSInteger code;
    };
    const Case refused[] = {
        {brightness, NSNumber::numberWithInteger(101), HMErrorCodeValueHigherThanMaximum},
        {brightness, NSNumber::numberWithInteger(-1), HMErrorCodeValueLowerThanMinimum},
        {brightness, NSString::stringWithUTF8String("50"), HMErrorCodeInvalidValueType},
        {brightness, nullptr, HMErrorCodeNilParameter},
        {hue, NSNumber::numberWithDouble(360.5), HMErrorCodeValueHigherThanMaximum},
        {hue, NSNumber::numberWithDouble(std::nan("")), HMErrorCodeInvalidParameter},
        {power, NSNumber::numberWithInteger(2), HMErrorCodeInvalidParameter},
        {power, NSArray::array(), HMErrorCodeInvalidValueType},
    };
    for (const Case& c : refused) {
        auto [code, text] = write(c.characteristic, c.value.get());
        EXPECT_EQ(code, c.code) << text;
        EXPECT_THAT(text, HasSubstr("HMErrorDomain: \"Lamp\""));
    }
    EXPECT_TRUE(brightness->value()->isEqual(NSNumber::numberWithInteger(10)));
    EXPECT_TRUE(hue->value()->isEqual(NSNumber::numberWithInteger(0)));
    EXPECT_TRUE(power->value()->isEqual(NSNumber::numberWithBool(NO)));
    nlohmann::json light = showFromAnotherProcess()["homes"][0]["rooms"][0]["lights"][0];
    EXPECT_EQ(light["brightness"], 10);
    EXPECT_EQ(light["hue"], 0);

    // The edges themselves are accepted, whatever kind of number carries them.
    EXPECT_EQ(write(brightness, NSNumber::numberWithDouble(100.0)).first, 0);
    EXPECT_EQ(write(hue, NSNumber::numberWithFloat(359.0f)).first, 0);
    EXPECT_EQ(write(power, NSNumber::numberWithBool(YES)).first, 0);
    EXPECT_EQ(write(find(manager, "Bare", HMCharacteristicTypeHue), NSNumber::numberWithDouble(1234.5)).first, 0)
        << "without metadata any finite number goes";
    EXPECT_TRUE(hue->value()->isEqual(NSNumber::numberWithInteger(359)));

    // Within the range but finer than the step, a value is fitted to the step, as the lamp itself
    // would: HomeKit has no error for it, and simulated and real lamps take the same.
    EXPECT_EQ(write(brightness, NSNumber::numberWithDouble(50.4)).first, 0);
    EXPECT_TRUE(brightness->value()->isEqual(NSNumber::numberWithInteger(50))) << brightness->value()->description();
    EXPECT_EQ(write(hue, NSNumber::numberWithDouble(12.75)).first, 0);
    EXPECT_TRUE(hue->value()->isEqual(NSNumber::numberWithInteger(13))) << hue->value()->description();
}

TEST_F(HomeKitTest, FaultyAccessoriesAlwaysCompleteWithAnErrorAndStoreNothing) {
    install();
    Strong<HMHomeManager> manager = loadedManager();
    HMCharacteristic* broken = find(manager, "Broken", HMCharacteristicTypePowerState);
    HMCharacteristic* gone = find(manager, "Gone", HMCharacteristicTypePowerState);
    ASSERT_TRUE(broken && gone);
    for (int i = 0; i < 3; ++i) {
        auto [brokenCode, brokenText] = write(broken, NSNumber::numberWithBool(NO));
        EXPECT_EQ(brokenCode, HMErrorCodeCommunicationFailure) << brokenText;
        auto [goneCode, goneText] = write(gone, NSNumber::numberWithBool(NO));
        EXPECT_EQ(goneCode, HMErrorCodeOperationTimedOut) << goneText;
        EXPECT_THAT(goneText, HasSubstr("40 ms"));
    }
    EXPECT_TRUE(broken->value()->isEqual(NSNumber::numberWithBool(YES)));
    EXPECT_TRUE(
        find(loadedManager(), "Gone", HMCharacteristicTypePowerState)->value()->isEqual(NSNumber::numberWithBool(YES)));
}

TEST_F(HomeKitTest, WritesStillPendingWhenEverythingIsReleasedCompleteExactlyOnce) {
    install();
    constexpr int kWrites = 24;
    std::vector<std::unique_ptr<Outcome>> outcomes;
    {
        Strong<HMHomeManager> manager = loadedManager();
        HMCharacteristic* slow = find(manager, "Slow", HMCharacteristicTypeBrightness);
        HMCharacteristic* lamp = find(manager, "Lamp", HMCharacteristicTypeBrightness);
        ASSERT_TRUE(slow && lamp);
        // From two threads at once, to two accessories; the slow one's writes are still pending
        // when the last reference to the homes goes.
        std::vector<std::thread> writers;
        outcomes.resize(kWrites);
        for (auto& outcome : outcomes) outcome = std::make_unique<Outcome>();
        for (int t = 0; t < 2; ++t) {
            writers.emplace_back([&, t] {
                for (int i = t; i < kWrites; i += 2)
                    (i % 3 ? slow : lamp)
                        ->writeValue_completionHandler(NSNumber::numberWithInteger(i), outcomes[i]->completion());
            });
        }
        for (auto& writer : writers) writer.join();
    }
    for (int i = 0; i < kWrites; ++i) {
        ASSERT_TRUE(outcomes[i]->wait()) << "write " << i << " never completed";
        EXPECT_EQ(outcomes[i]->code, 0) << outcomes[i]->text;
    }
    // A second call would come right after the first; a further short wait would catch it.
    std::this_thread::sleep_for(50ms);
    for (auto& outcome : outcomes) EXPECT_EQ(outcome->calls, 1);

    nlohmann::json shown = showFromAnotherProcess();
    int stored = shown["homes"][0]["rooms"][1]["lights"][0]["brightness"].get<int>();
    EXPECT_EQ(stored % 3 != 0, true) << "the slow lamp keeps one of the values written to it";
}

}  // namespace
