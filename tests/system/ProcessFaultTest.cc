// Faults the chain must survive across real processes: a home screen or a video app killed
// outright, accessories that fail, never answer or answer slowly, and damaged video files.
#include <atomic>
#include <csignal>
#include <set>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <accessories/AccessoryStore.h>

#include "DeviceProcesses.h"

namespace system_test {
namespace {

constexpr int kLastRed = 0x30, kLastGreen = 0x60, kLastBlue = 0xc0;
const LightState kLampAtFirst{true, 80, 60, 30};
const LightState kDeskAtFirst{true, 55, 45, 120};

class ProcessFaults : public DeviceTest {
protected:
    const LightColour last = lightColourOf(kLastRed, kLastGreen, kLastBlue);
};

// --- Killed processes -------------------------------------------------------------------------------------

class KilledProcesses : public ProcessFaults {
protected:
    void SetUp() override {
        installHome(homeOf("Flat", {room("Lounge", {accessory("Lamp", {colourBulb("Lamp", kLampAtFirst)})}),
                                    room("Study", {accessory("Desk", {colourBulb("Desk", kDeskAtFirst)})})}),
                    {"Lounge"});
        clip_ = writeClip("long.mp4", changingColours(100, 4));  // forty seconds, stopped long before
    }

    std::string clip_;
};

// The video app loses its server mid-play (its channel's socket is left behind, and sends still in
// flight are never answered) and finds the new one by the channel's name alone.
TEST_F(KilledProcesses, AHomeScreenKilledAndRestartedDuringPlaybackIsFoundAgain) {
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();
    auto app = start({"play", clip_});
    ASSERT_TRUE(eventually([&] { return light("Lamp") != kLampAtFirst; })) << app->err();

    EXPECT_EQ(homeScreen->stop(SIGKILL).signal, SIGKILL);
    const LightState whenKilled = light("Lamp");
    // With no home screen the app plays on.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(app->running()) << app->err();

    auto restarted = startHomeScreen();
    EXPECT_TRUE(eventually([&] { return light("Lamp") != whenKilled; })) << app->err() << restarted->err();
    ASSERT_TRUE(app->running()) << "the clip ended before the colours could resume: " << app->err();
    EXPECT_EQ(light("Desk"), kDeskAtFirst);

    ProcessResult played = app->stop(SIGTERM);
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_TRUE(onlyPlayerReports(played.err));
    EXPECT_TRUE(healthy(*restarted));
}

TEST_F(KilledProcesses, AVideoAppKilledMidPlayLeavesTheHomeScreenServingTheNext) {
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();
    auto first = start({"play", "--inline", clip_});
    ASSERT_TRUE(eventually([&] { return light("Lamp") != kLampAtFirst; })) << first->err();
    EXPECT_EQ(first->stop(SIGKILL).signal, SIGKILL);

    ProcessResult second = glimmora({"play", "--inline", writeClip("short.mp4", "red*8,#3060c0*12")});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_TRUE(onlyPlayerReports(second.err));
    EXPECT_TRUE(eventuallyShows("Lamp", last));
    EXPECT_EQ(light("Desk"), kDeskAtFirst);
    EXPECT_TRUE(healthy(*homeScreen));
}

// --- Accessories that misbehave ----------------------------------------------------------------------------

constexpr int kSlowLatencyMs = 3000;
constexpr const char* kSluggishHue = "5106615D-0000-4000-8000-000000000013";
const LightState kBrokenAtFirst{true, 21, 22, 23};
const LightState kGoneAtFirst{true, 31, 32, 33};
const LightState kSluggishAtFirst{true, 41, 42, 43};

// One working lamp beside an accessory that refuses every write, one that never answers (each write
// fails when its timeout ends) and one that takes three seconds to answer.
Json troubledFlat() {
    return homeOf("Flat",
                  {room("Lounge", {accessory("Lamp", {colourBulb("Lamp", kLampAtFirst)}),
                                   accessory("Broken", {colourBulb("Broken", kBrokenAtFirst)}, {{"fault", "error"}}),
                                   accessory("Gone", {colourBulb("Gone", kGoneAtFirst)},
                                             {{"fault", "unreachable"}, {"timeoutMs", 1500}}),
                                   accessory("Sluggish", {colourBulb("Sluggish", kSluggishAtFirst, kSluggishHue)},
                                             {{"latencyMs", kSlowLatencyMs}})}),
                   room("Study", {accessory("Desk", {colourBulb("Desk", kDeskAtFirst)})})});
}

// Every hue the slow lamp takes, as the accessory state shows it, watched on a thread of its own
// fifty times a second (a `home show` process at a time would see too few).
class HueWatch {
public:
    explicit HueWatch(std::string device) : watcher_([this, device] { watch(device); }) {}
    ~HueWatch() { stop(); }
    std::set<std::string> stop() {
        watching_ = false;
        if (watcher_.joinable()) watcher_.join();
        return hues_;
    }

private:
    void watch(const std::string& device) {
        AccessoryStore store(device);
        while (watching_) {
            std::unordered_map<std::string, Strong<NSObject>> values;
            auto found = values.end();
            if (store.readAll(&values).ok() && (found = values.find(kSluggishHue)) != values.end())
                hues_.insert(encodeAccessoryValue(found->second));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::atomic<bool> watching_{true};
    std::set<std::string> hues_;  // the watcher's until it is joined
    std::thread watcher_;
};

TEST_F(ProcessFaults, LightsFollowBesideAccessoriesThatFailOrAnswerSlowlyAndNoWritesPileUp) {
    installHome(troubledFlat(), {"Lounge"});
    // A new colour every frame for two seconds, then the last colour for one.
    const std::string clip = writeClip("clip.mp4", changingColours(20, 1) + ",#3060c0*10");
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();

    const auto begin = std::chrono::steady_clock::now();
    HueWatch watch(devicePath());
    auto app = start({"play", "--inline", clip});
    EXPECT_TRUE(eventuallyShows("Lamp", last)) << app->err() << homeScreen->err();
    EXPECT_TRUE(BackgroundProcess::waitFor([&] { return !app->running(); }, kEventually));
    // The slow lamp's last write lands at most its latency after the last colour.
    std::this_thread::sleep_for(std::chrono::milliseconds(kSlowLatencyMs));
    const std::set<std::string> sluggishHues = watch.stop();
    const double window = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

    // A characteristic gets a write only once the one before has been answered, so the slow lamp's
    // hues land at least its latency apart: over the window, its first hue and at most
    // window / latency + 1 more. Writes piled up, one per colour, would land in step with the
    // video, twenty hues in two seconds.
    EXPECT_GE(sluggishHues.size(), 2u) << "the slow lamp never took a colour";
    EXPECT_LE(sluggishHues.size(), static_cast<size_t>(window * 1000 / kSlowLatencyMs) + 2)
        << sluggishHues.size() << " hues over " << window << " s";

    ProcessResult played = app->stop();
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_TRUE(onlyPlayerReports(played.err));
    EXPECT_EQ(light("Broken"), kBrokenAtFirst);
    EXPECT_EQ(light("Gone"), kGoneAtFirst);
    EXPECT_EQ(light("Desk"), kDeskAtFirst);
    EXPECT_TRUE(healthy(*homeScreen));
}

// --- Damaged video -----------------------------------------------------------------------------------------

class DamagedVideo : public ProcessFaults {
protected:
    void SetUp() override {
        installHome(homeOf("Flat", {room("Lounge", {accessory("Lamp", {colourBulb("Lamp", kLampAtFirst)})})}),
                    {"Lounge"});
        homeScreen_ = startHomeScreen();
        ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen_->err();
    }
    void TearDown() override { EXPECT_TRUE(healthy(*homeScreen_)); }

    std::unique_ptr<BackgroundProcess> homeScreen_;
};

// The media data of an MP4 file (the payload of its top-level "mdat" box): damage there hits packets
// and leaves the file's index readable. {0, 0} when there is none.
std::pair<size_t, size_t> mediaData(const std::string& bytes) {
    for (size_t at = 0; at + 8 <= bytes.size();) {
        const auto* box = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        const size_t size = size_t(box[0]) << 24 | size_t(box[1]) << 16 | size_t(box[2]) << 8 | box[3];
        if (size < 8 || at + size > bytes.size()) break;
        if (bytes.compare(at + 4, 4, "mdat") == 0) return {at + 8, at + size};
        at += size;
    }
    return {0, 0};
}

// Garbage over the middle third of the packets: the decoder fails on what it hits and picks up
// again at a later keyframe, and the lamp ends at the last colour.
TEST_F(DamagedVideo, CorruptPacketsAreDecodedPastAndTheLightsEndAtALaterFrame) {
    const std::string clip = writeClip("clip.mp4", "red*10,#e0a020*20,#3060c0*20");
    std::string bytes = readBytes(clip);
    auto [begin, end] = mediaData(bytes);
    ASSERT_GT(end, begin + 300) << "no media data in " << clip;
    for (size_t i = begin + (end - begin) / 3; i < begin + (end - begin) * 2 / 3; i += 7)
        bytes[i] = static_cast<char>(0xa5 ^ i);
    const std::string damaged = devicePath() + "/damaged.mp4";
    writeBytes(damaged, bytes);

    ProcessResult played = glimmora({"play", "--inline", damaged});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, ::testing::HasSubstr("enqueued 50 samples"));
    // The damage did hit: the player and the library's decoder both met it.
    EXPECT_THAT(played.err, ::testing::HasSubstr("could not be decoded"));
    EXPECT_THAT(played.err, ::testing::HasSubstr("[Glim] VideoToolboxDecoder callback error"));
    EXPECT_TRUE(eventuallyShows("Lamp", last));
}

// A file that ends inside a packet: what comes before the cut is played, the app ends normally and
// the lamp shows the colour of the frames before the cut.
TEST_F(DamagedVideo, AFileCutInsideAPacketPlaysUpToTheCut) {
    // Matroska, which can be read up to the damage (an MP4 cut short loses its index).
    const std::string clip = writeClip("clip.mkv", "red*3,#3060c0*30");
    const std::string bytes = readBytes(clip);
    const std::string cut = devicePath() + "/cut.mkv";
    writeBytes(cut, bytes.substr(0, bytes.size() * 7 / 10));

    ProcessResult played = glimmora({"play", "--inline", cut});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_TRUE(onlyPlayerReports(played.err));
    EXPECT_THAT(played.err, ::testing::HasSubstr("enqueued"));
    EXPECT_THAT(played.err, ::testing::Not(::testing::HasSubstr("enqueued 33 samples")));
    EXPECT_TRUE(eventuallyShows("Lamp", last));
}

}  // namespace
}  // namespace system_test
