// The controller against a real accessory (the test accessory, on hap-nodejs): pairing, verified
// sessions, the accessory database, writes, events, removing the pairing, and the persistent
// client through a restart, an outage and an impostor's key.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <map>
#include <mutex>

#include "hap/AccessoryClient.h"
#include "hap/AccessoryDatabase.h"
#include "hap/CharacteristicsJson.h"
#include "hap/Pairing.h"
#include "hap/PairingRemoval.h"
#include "hap/Session.h"
#include "support/StatusAssertions.h"
#include "support/TempDirectory.h"
#include "support/TestAccessory.h"

using namespace device::hap;
using namespace std::chrono_literals;

namespace {

// The lightbulb's characteristics in the test accessory's database: On, Brightness, Saturation, Hue.
struct Light {
    CharacteristicInfo on, brightness, saturation, hue;
    std::vector<CharacteristicRef> refs() const {
        return {
            {on.aid, on.iid}, {brightness.aid, brightness.iid}, {saturation.aid, saturation.iid}, {hue.aid, hue.iid}};
    }
};

class ControllerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(accessory.start());
        auto opened = Keyring::open(keys.path());
        ASSERT_TRUE(opened.ok()) << opened.status().message();
        keyring = std::move(*opened);
    }

    Endpoint endpoint() const { return {"127.0.0.1", accessory.port()}; }

    void pair() {
        auto paired = pairSetup(endpoint(), accessory.code(), keyring->controller(), 10s);
        ASSERT_TRUE(paired.ok()) << paired.status().message();
        pairing = *paired;
    }

    std::unique_ptr<Session> open() {
        auto session = Session::open(endpoint(), keyring->controller(), pairing, 5s);
        EXPECT_TRUE(session.ok()) << session.status().message();
        return session.ok() ? std::move(*session) : nullptr;
    }

    Light light(Session& session) {
        auto answer = session.request("GET", "/accessories", {}, 5s);
        EXPECT_TRUE(answer.ok()) << answer.status().message();
        if (!answer.ok()) return {};
        auto services = parseAccessoryDatabase(answer->body);
        EXPECT_TRUE(services.ok()) << services.status().message();
        Light found;
        for (const auto& service : services.value_or(std::vector<ServiceInfo>{})) {
            if (service.type != kLightbulbService) continue;
            for (const auto& c : service.characteristics) {
                if (c.type == kOnCharacteristic) found.on = c;
                if (c.type == kBrightnessCharacteristic) found.brightness = c;
                if (c.type == kSaturationCharacteristic) found.saturation = c;
                if (c.type == kHueCharacteristic) found.hue = c;
            }
        }
        return found;
    }

    // The values the accessory holds now, read over a session of its own.
    std::map<uint64_t, std::string> readBack(const Light& l) {
        auto session = open();
        std::map<uint64_t, std::string> values;
        if (!session) return values;
        auto answer = session->request("GET", readPath(l.refs()), {}, 5s);
        EXPECT_TRUE(answer.ok()) << answer.status().message();
        if (!answer.ok()) return values;
        auto reports = parseValues(answer->body);
        EXPECT_TRUE(reports.ok()) << reports.status().message();
        for (const auto& report : reports.value_or(std::vector<CharacteristicReport>{}))
            values[report.iid] = report.value;
        return values;
    }

    TestAccessory accessory;
    TempDirectory keys;
    std::optional<Keyring> keyring;
    AccessoryPairing pairing;
};

// What an AccessoryClient reports, gathered for a test to wait on.
struct Observed {
    std::mutex lock;
    std::condition_variable changed;
    std::map<uint64_t, std::string> values;
    std::vector<bool> reachability;
    std::string lastWhy;

    AccessoryClient::Callbacks callbacks() {
        return {[this](const std::vector<CharacteristicReport>& reports) {
                    std::lock_guard hold(lock);
                    for (const auto& r : reports) values[r.iid] = r.value;
                    changed.notify_all();
                },
                [this](bool reachable, const device::Status& why) {
                    std::lock_guard hold(lock);
                    reachability.push_back(reachable);
                    lastWhy = why.message();
                    changed.notify_all();
                }};
    }
    // Waits (a bound, not a speed target) until `done` holds.
    template <class Predicate>
    bool waitFor(Predicate done, std::chrono::seconds bound = 10s) {
        std::unique_lock hold(lock);
        return changed.wait_for(hold, bound, [&] { return done(); });
    }
};

struct WriteResult {
    device::Status status;
    std::vector<CharacteristicStatus> statuses;
};

WriteResult writeAndWait(AccessoryClient& client, std::vector<CharacteristicWrite> writes) {
    std::promise<WriteResult> promise;
    client.write(std::move(writes), [&](device::Status status, std::vector<CharacteristicStatus> statuses) {
        promise.set_value({std::move(status), std::move(statuses)});
    });
    return promise.get_future().get();
}

}  // namespace

TEST_F(ControllerTest, PairingNeedsTheRightCodeAndAFreeAccessory) {
    auto wrongCode = pairSetup(endpoint(), "111-22-333", keyring->controller(), 10s);
    EXPECT_FALSE(wrongCode.ok());
    EXPECT_NE(wrongCode.status().message().find("setup code was not accepted"), std::string::npos)
        << wrongCode.status().message();

    ASSERT_NO_FATAL_FAILURE(pair());
    EXPECT_EQ(pairing.pairingId, accessory.identifier());

    TempDirectory otherKeys;
    auto other = Keyring::open(otherKeys.path());
    ASSERT_TRUE(other.ok()) << other.status().message();
    auto taken = pairSetup(endpoint(), accessory.code(), other->controller(), 10s);
    EXPECT_FALSE(taken.ok());
    const std::string& why = taken.status().message();
    EXPECT_NE(why.find("pairing must be removed first"), std::string::npos) << why;
    EXPECT_NE(why.find(endpoint().text()), std::string::npos);
}

TEST_F(ControllerTest, AVerifiedSessionReadsTheDatabaseWritesAndRemovesItsPairing) {
    ASSERT_NO_FATAL_FAILURE(pair());
    auto session = open();
    ASSERT_TRUE(session);
    Light l = light(*session);
    ASSERT_NE(l.hue.iid, 0u);
    EXPECT_EQ(l.on.format, "bool");
    EXPECT_EQ(l.brightness.maximum, 100);
    EXPECT_EQ(l.hue.maximum, 360);

    auto write = [&](std::vector<CharacteristicWrite> writes) {
        auto answer = session->request("PUT", "/characteristics", writeBody(writes), 5s);
        EXPECT_TRUE(answer.ok()) << answer.status().message();
        return answer.value_or(HttpResponse{});
    };
    EXPECT_EQ(
        write({{1, l.on.iid, "true"}, {1, l.brightness.iid, "40"}, {1, l.saturation.iid, "60"}, {1, l.hue.iid, "200"}})
            .status,
        204);
    HttpResponse partial = write({{1, l.brightness.iid, "150"}, {1, l.hue.iid, "120"}});
    ASSERT_EQ(partial.status, 207);
    auto statuses = parseWriteStatuses(partial.body, {{1, l.brightness.iid, "150"}, {1, l.hue.iid, "120"}});
    ASSERT_TRUE(statuses.ok()) << statuses.status().message();
    EXPECT_EQ((*statuses)[0].status, -70410);
    EXPECT_EQ((*statuses)[1].status, 0);

    auto values = readBack(l);
    EXPECT_TRUE(values[l.on.iid] == "true" || values[l.on.iid] == "1") << values[l.on.iid];
    EXPECT_EQ(values[l.brightness.iid], "40");
    EXPECT_EQ(values[l.saturation.iid], "60");
    EXPECT_EQ(values[l.hue.iid], "120");

    ASSERT_TRUE(succeeded(removePairing(*session, keyring->controller().pairingId)));
    session.reset();
    auto refused = Session::open(endpoint(), keyring->controller(), pairing, 5s);
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(refused.status().message().find("must be paired again"), std::string::npos) << refused.status().message();
    // Free again: a new pairing works.
    ASSERT_NO_FATAL_FAILURE(pair());
}

TEST_F(ControllerTest, AnotherLongTermKeyIsRefusedAndNeverWrittenTo) {
    ASSERT_NO_FATAL_FAILURE(pair());
    Light l;
    {
        auto session = open();
        ASSERT_TRUE(session);
        l = light(*session);
    }
    const auto before = readBack(l);
    AccessoryPairing impostor = pairing;
    impostor.publicKey[5] ^= 0x40;
    auto refused = Session::open(endpoint(), keyring->controller(), impostor, 5s);
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(refused.status().message().find("REFUSED"), std::string::npos) << refused.status().message();

    Observed observed;
    AccessoryClient client(endpoint(), keyring->controller(), impostor, l.refs(), observed.callbacks(), {});
    WriteResult result =
        writeAndWait(client, {{1, l.brightness.iid, before.at(l.brightness.iid) == "77" ? "78" : "77"}});
    EXPECT_NE(result.status.message().find("REFUSED"), std::string::npos) << result.status.message();
    EXPECT_TRUE(result.statuses.empty());
    EXPECT_EQ(readBack(l), before);
}

TEST_F(ControllerTest, TheClientWritesReportsEventsAndVerifiesAgainAfterARestart) {
    ASSERT_NO_FATAL_FAILURE(pair());
    Light l;
    {
        auto session = open();
        ASSERT_TRUE(session);
        l = light(*session);
    }
    Observed observed;
    AccessoryClient client(endpoint(), keyring->controller(), pairing, l.refs(), observed.callbacks(), {});
    client.connect();
    ASSERT_TRUE(observed.waitFor([&] { return observed.values.count(l.hue.iid) > 0; })) << "no values read on connect";

    WriteResult written = writeAndWait(
        client,
        {{1, l.on.iid, "true"}, {1, l.brightness.iid, "150"}, {1, l.saturation.iid, "30"}, {1, l.hue.iid, "90"}});
    ASSERT_TRUE(succeeded(written.status));
    ASSERT_EQ(written.statuses.size(), 4u);
    EXPECT_EQ(written.statuses[0].status, 0);
    EXPECT_EQ(written.statuses[1].status, -70410);
    EXPECT_EQ(written.statuses[3].status, 0);

    // Another controller's change arrives as an event.
    {
        auto other = open();
        ASSERT_TRUE(other);
        auto answer = other->request("PUT", "/characteristics", writeBody({{1, l.brightness.iid, "42"}}), 5s);
        ASSERT_TRUE(answer.ok()) << answer.status().message();
        EXPECT_EQ(answer->status, 204);
    }
    EXPECT_TRUE(observed.waitFor([&] { return observed.values[l.brightness.iid] == "42"; }))
        << observed.values[l.brightness.iid];

    // A restart: the client notices, verifies again by itself, and its next write goes through.
    ASSERT_TRUE(accessory.restart());
    EXPECT_TRUE(observed.waitFor([&] { return observed.reachability.size() >= 3; }, 20s));
    WriteResult after = writeAndWait(client, {{1, l.hue.iid, "270"}});
    ASSERT_TRUE(succeeded(after.status));
    EXPECT_EQ(readBack(l)[l.hue.iid], "270");
    std::lock_guard hold(observed.lock);
    EXPECT_EQ(observed.reachability, (std::vector<bool>{true, false, true}));
}

TEST_F(ControllerTest, AWriteToADownAccessoryFailsAndTheClientReconnectsWhenItsBackoffEnds) {
    ASSERT_NO_FATAL_FAILURE(pair());
    Light l;
    {
        auto session = open();
        ASSERT_TRUE(session);
        l = light(*session);
    }
    Observed observed;
    AccessoryClient::Options options;
    options.connectTimeout = 1s;
    options.requestTimeout = 1s;
    options.firstRetry = 200ms;  // writes never dial: only the backoff does
    options.longestRetry = 1s;
    AccessoryClient client(endpoint(), keyring->controller(), pairing, l.refs(), observed.callbacks(), options);
    ASSERT_TRUE(succeeded(writeAndWait(client, {{1, l.on.iid, "true"}}).status));

    accessory.kill();
    WriteResult failed = writeAndWait(client, {{1, l.brightness.iid, "10"}});
    EXPECT_FALSE(failed.status.ok());
    EXPECT_NE(failed.status.message().find(endpoint().text()), std::string::npos) << failed.status.message();
    EXPECT_TRUE(observed.waitFor([&] { return !observed.reachability.empty() && !observed.reachability.back(); }));

    ASSERT_TRUE(accessory.start());
    EXPECT_TRUE(observed.waitFor([&] { return observed.reachability.back(); }));
    WriteResult again = writeAndWait(client, {{1, l.brightness.iid, "20"}});
    ASSERT_TRUE(succeeded(again.status));
    EXPECT_EQ(readBack(l)[l.brightness.iid], "20");
}
