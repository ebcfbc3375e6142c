// The whole chain across real processes: a video app plays a clip, the home screen writes its
// colours to the lights of the selected rooms, and the settings switches turn the chain off and on.
// What the lights show is read back with `glimmora home show`, as a user would.
#include <csignal>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <activity/ProcessActivity.h>
#include <apps/GlimmoraContract.h>

#include "DeviceProcesses.h"

namespace system_test {
namespace {

// The clips' last colour, held for more than a second: the home screen passes over a light whose
// write is in flight, so the last colour must come more than once to be sure to land.
constexpr int kLastRed = 0xe0, kLastGreen = 0xa0, kLastBlue = 0x20;
constexpr const char* kPlayed = "#30c060*6,blue*6,#e0a020*12";  // 2.4 s at 10 frames a second

const LightState kLampAtFirst{true, 80, 60, 30};
const LightState kStripAtFirst{false, 10, 10, 300};
const LightState kDeskAtFirst{true, 55, 45, 120};

// Two rooms; the tests select only the Lounge, so the Study's desk lamp must never change.
Json flat() {
    return homeOf("Flat", {room("Lounge", {accessory("Lamp", {colourBulb("Lamp", kLampAtFirst)}),
                                           accessory("Strip", {colourBulb("Strip", kStripAtFirst)})}),
                           room("Study", {accessory("Desk", {colourBulb("Desk", kDeskAtFirst)})})});
}

class EndToEnd : public DeviceTest {
protected:
    void SetUp() override { installHome(flat(), {"Lounge"}); }

    const LightColour last = lightColourOf(kLastRed, kLastGreen, kLastBlue);
};

// --- The lights follow the video ---------------------------------------------------------------------

struct Playback {
    const char* name;
    std::vector<std::string> options;
    bool frameClockSends, decoderPathSends;
};

class PlayedVideo : public EndToEnd, public ::testing::WithParamInterface<Playback> {};

// Full screen, both capture paths send; inline, only the decoder path does; shown as a player
// layer shows it, only the frame clock does.
TEST_P(PlayedVideo, SelectedLightsEndAtTheColourOfTheLastFrameAndOthersStayAsTheyWere) {
    const std::string clip = writeClip("clip.mp4", kPlayed);
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();

    std::vector<std::string> play = {"play", clip};
    play.insert(play.end(), GetParam().options.begin(), GetParam().options.end());
    ProcessResult played = glimmora(play);
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, ::testing::HasSubstr("enqueued 24 samples"));
    EXPECT_TRUE(onlyPlayerReports(played.err));
    device::ActivitySnapshot sent;
    for (const device::ActivitySnapshot& process : device::readDeviceActivity(devicePath())) sent.merge(process);
    EXPECT_EQ(sent[device::Activity::callsSentFireAndForget] > 0, GetParam().frameClockSends);
    EXPECT_EQ(sent[device::Activity::callsSentAcknowledged] > 0, GetParam().decoderPathSends);
    // The player ends by saying what reached the home screen: here, everything.
    const uint64_t calls =
        sent[device::Activity::callsSentFireAndForget] + sent[device::Activity::callsSentAcknowledged];
    EXPECT_THAT(played.err, ::testing::HasSubstr("glimmora play: " + std::to_string(calls) + " colours sent, " +
                                                 std::to_string(calls) + " delivered to the home screen\n"));

    EXPECT_TRUE(eventuallyShows("Lamp", last));
    // The strip was off: the home screen switches a light on as it colours it.
    EXPECT_TRUE(eventuallyShows("Strip", last));
    EXPECT_EQ(light("Desk"), kDeskAtFirst);
    EXPECT_TRUE(healthy(*homeScreen));
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, PlayedVideo,
                         ::testing::Values(Playback{"FullScreen", {}, true, true},
                                           Playback{"Inline", {"--inline"}, false, true},
                                           Playback{"PlayerLayer", {"--player-layer"}, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The catalogue ---------------------------------------------------------------------------------------

TEST_F(EndToEnd, TheHomeScreenPublishesTheHomesAndRoomsForTheSettingsInterface) {
    Json shown = show();
    ASSERT_TRUE(shown.is_object());
    const std::string home = shown["homes"][0]["uuid"];
    const std::string lounge = shown["homes"][0]["rooms"][0]["uuid"];
    const std::string study = shown["homes"][0]["rooms"][1]["uuid"];

    // Read over and over while the home screen starts: a reading process that ends must not take the
    // settings database for unused and remove its log from under the home screen's later writes.
    auto homeScreen = startHomeScreen();
    EXPECT_TRUE(eventually([&] { return readSetting(device::kRoomsKey).has_value(); }));
    EXPECT_EQ(readSetting(device::kHomesKey), "[\"Flat_" + home + "\"]");
    EXPECT_EQ(readSetting(device::kRoomsKey),
              "[\"Lounge_" + lounge + "_" + home + "\", \"Study_" + study + "_" + home + "\"]");
    EXPECT_TRUE(healthy(*homeScreen));
}

// --- The switches ------------------------------------------------------------------------------------------

// "Enabled" is read when a process starts: switched off, neither side acts.
TEST_F(EndToEnd, WithEnabledOffNothingChanges) {
    setSwitch(device::kEnabledKey, false);
    auto homeScreen = startHomeScreen();
    ProcessResult played = glimmora({"play", "--inline", writeClip("clip.mp4", kPlayed)});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, ::testing::HasSubstr("enqueued 24 samples"));
    EXPECT_THAT(played.err, ::testing::HasSubstr("glimmora play: the library sent no colours"));
    EXPECT_THAT(homeScreen->err(), ::testing::HasSubstr("does not serve the colour channel"));

    // By now the home screen has run well past the two seconds after which it would publish.
    EXPECT_TRUE(staysAsItIs({{"Lamp", kLampAtFirst}, {"Strip", kStripAtFirst}, {"Desk", kDeskAtFirst}},
                            std::chrono::seconds(1)));
    EXPECT_FALSE(serving());
    EXPECT_EQ(readSetting(device::kRoomsKey), std::nullopt);
    EXPECT_TRUE(healthy(*homeScreen));
}

// With no home screen the video still plays (exit 0), but the player warns at once and ends by
// saying that none of the colours it sent arrived.
TEST_F(EndToEnd, PlayingWithNoHomeScreenSaysTheColoursWereLost) {
    ProcessResult played = glimmora({"play", "--inline", writeClip("clip.mp4", kPlayed)});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, ::testing::HasSubstr("warning: no home screen serves the device " + devicePath()));
    EXPECT_THAT(played.err, ::testing::ContainsRegex("glimmora play: [1-9][0-9]* colours sent, 0 delivered to the "
                                                     "home screen, [1-9][0-9]* lost"));
    EXPECT_TRUE(onlyPlayerReports(played.err));
}

// The YouTube app is served only while "Youtube" is on when it starts; the home screen serves it
// like any other app without being restarted.
TEST_F(EndToEnd, TheYouTubeAppFollowsItsSwitch) {
    const std::string clip = writeClip("clip.mp4", kPlayed);
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();

    ProcessResult ignored = glimmora({"play", "--inline", clip, "--app", "youtube"});
    EXPECT_EQ(ignored.exitCode, 0) << ignored.err;
    EXPECT_THAT(ignored.err, ::testing::HasSubstr("enqueued 24 samples"));
    EXPECT_THAT(ignored.err, ::testing::HasSubstr("glimmora play: the library sent no colours"));
    EXPECT_TRUE(staysAsItIs({{"Lamp", kLampAtFirst}, {"Strip", kStripAtFirst}}, std::chrono::seconds(1)));

    setSwitch(device::kYoutubeKey, true);
    ProcessResult served = glimmora({"play", "--inline", clip, "--app", "youtube"});
    EXPECT_EQ(served.exitCode, 0) << served.err;
    EXPECT_TRUE(onlyPlayerReports(served.err));
    EXPECT_TRUE(eventuallyShows("Lamp", last));
    EXPECT_EQ(light("Desk"), kDeskAtFirst);
    EXPECT_TRUE(healthy(*homeScreen));
}

// Switches written as text, as `defaults write` stores them without a type, read as the platform
// reads text: "YES" and "true" are on, and the tool shows that text is what is stored.
TEST_F(EndToEnd, SwitchesStoredAsTextAreOnWhenTheTextSaysYes) {
    const std::string lounge = show()["homes"][0]["rooms"][0]["uuid"];
    const std::pair<std::string, std::string> texts[] = {
        {device::kEnabledKey, "YES"}, {device::kActiveKey, "YES"}, {lounge, "true"}};
    for (const auto& [key, text] : texts) {
        ProcessResult written = glimmora({"prefs", "write", device::kGlimmoraSettingsIdentifier, key, text});
        ASSERT_EQ(written.exitCode, 0) << written.err;
    }
    EXPECT_EQ(readSetting(device::kActiveKey), "\"YES\"");

    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();
    ProcessResult played = glimmora({"play", "--inline", writeClip("clip.mp4", kPlayed)});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_TRUE(eventuallyShows("Lamp", last));
    EXPECT_EQ(light("Desk"), kDeskAtFirst);
    EXPECT_TRUE(healthy(*homeScreen));
}

// "Active" is read on every frame: off, the writes stop while the video goes on changing colour;
// on again, they resume in the same processes.
TEST_F(EndToEnd, ActivePausesAndResumesTheLightsDuringPlayback) {
    // Forty seconds whose colour changes every 0.4 s and never comes back; stopped long before.
    const std::string clip = writeClip("long.mp4", changingColours(100, 4));
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();
    auto app = start({"play", "--inline", clip});

    ASSERT_TRUE(eventually([&] { return light("Lamp") != kLampAtFirst; })) << app->err() << homeScreen->err();
    setSwitch(device::kActiveKey, false);

    // Colours already on their way still land; then the lights hold still.
    LightState paused;
    bool settled = BackgroundProcess::waitFor(
        [&] {
            paused = light("Lamp");
            std::this_thread::sleep_for(std::chrono::seconds(1));
            return light("Lamp") == paused;
        },
        kEventually);
    ASSERT_TRUE(settled) << "the lamp kept changing with Active off";
    EXPECT_TRUE(staysAsItIs({{"Lamp", paused}, {"Strip", light("Strip")}}, std::chrono::seconds(2)));
    ASSERT_TRUE(app->running()) << "the clip ended before the pause could be seen: " << app->err();

    setSwitch(device::kActiveKey, true);
    EXPECT_TRUE(eventually([&] { return light("Lamp") != paused; }));
    EXPECT_TRUE(app->running()) << app->err();
    EXPECT_EQ(light("Desk"), kDeskAtFirst);

    ProcessResult stopped = app->stop(SIGTERM);
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err;
    EXPECT_TRUE(onlyPlayerReports(stopped.err));
    EXPECT_TRUE(healthy(*homeScreen));
}

}  // namespace
}  // namespace system_test
