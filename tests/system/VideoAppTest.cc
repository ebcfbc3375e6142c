// A video app as a whole: `glimmora play` of a generated clip sends the colours of its frames to a
// colour server in another process, and refuses files it cannot play.
#include <algorithm>
#include <fstream>
#include <mutex>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Foundation/Foundation.h>
#include <HBPreferences/HBPreferences.h>
#include <MRYIPC/MRYIPCCenter.h>
#include <apps/GlimmoraContract.h>
#include <apps/GlimmoraSettings.h>

#include "media/TestPattern.h"
#include "support/StatusAssertions.h"
#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

// The colour server's end of the channel, in this process.
class MessageLog : public NSObject {
public:
    static Class objcClass();
    std::vector<std::string> messages() {
        std::lock_guard hold(lock);
        return received;
    }
    std::mutex lock;
    std::vector<std::string> received;
};

void logMessage(id self, SEL, id message) {
    auto* log = static_cast<MessageLog*>(self);
    std::lock_guard hold(log->lock);
    log->received.push_back(message ? message->description() : "nil");
}

Class MessageLog::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<MessageLog>("VideoAppTestMessageLog", NSObject::objcClass());
        class_addMethod(c, sel_registerName("_updateColors:"), reinterpret_cast<IMP>(logMessage), "v@:@");
        return c;
    }();
    return cls;
}

class VideoApp : public ::testing::Test {
protected:
    // One device and one colour server for every test: a process serves a channel at one place.
    static void SetUpTestSuite() {
        static TempDirectory device;
        setenv("GLIMMORA_DEVICE", device.path().c_str(), 1);
        devicePath_ = device.path();
        static MessageLog* serverLog = makeObject<MessageLog>().detach();
        MRYIPCCenter::centerNamed(NSSTR(device::kColourChannelName))->addTarget_action(serverLog, SEL_(_updateColors:));
        log = serverLog;
    }
    void SetUp() override {
        auto settings = device::openGlimmoraSettings();
        settings->setObject_forKey(NSNumber::numberWithBool(YES).get(), NSSTR(device::kActiveKey));
        std::lock_guard hold(log->lock);
        log->received.clear();
    }

    std::string writeClip(const char* pattern, ClipSettings settings = {}) {
        auto segments = parseTestPattern(pattern);
        std::string path = devicePath_ + "/clip.mp4";
        EXPECT_TRUE(succeeded(segments.ok() ? writeTestPatternClip(path, *segments, settings) : segments.status()));
        return path;
    }

    static std::string devicePath_;
    static MessageLog* log;
};

std::string VideoApp::devicePath_;
MessageLog* VideoApp::log = nullptr;

TEST_F(VideoApp, PlayingSendsTheColoursOfTheFramesToTheServer) {
    // Red for a second, then blue for a second: long enough for the frame clock to see each.
    std::string clip = writeClip("red*25,blue*25");

    ProcessResult played = runProcess({glimmoraCommand(), "play", clip}, {}, std::chrono::seconds(30));
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, ::testing::HasSubstr("enqueued 50 samples"));
    EXPECT_THAT(played.err, ::testing::Not(::testing::HasSubstr("ended early")));

    // Both capture paths send; the colours come back within what 8-bit video allows.
    std::vector<std::string> messages = log->messages();
    int red = 0, blue = 0;
    for (const std::string& message : messages) {
        float r, g, b, a;
        ASSERT_EQ(std::sscanf(message.c_str(), "%f,%f,%f,%f", &r, &g, &b, &a), 4) << message;
        EXPECT_EQ(a, 1.0f);
        if (r > 0.9f && g < 0.1f && b < 0.1f) ++red;
        if (b > 0.9f && r < 0.1f && g < 0.1f) ++blue;
    }
    // How many depends on the machine's speed (a sanitizer build ticks slowly); each colour shows.
    EXPECT_GE(red, 1) << messages.size() << " messages";
    EXPECT_GE(blue, 1) << messages.size() << " messages";
}

// Played inline, only the decoder path sees the video: the first sample prepares the session, which
// starts at the next keyframe, and every sample from there sends exactly the colour of its frame.
TEST_F(VideoApp, PlayedInlineEveryDecodedSampleSendsTheColourOfItsFrame) {
    for (ClipCodec codec : {ClipCodec::h264, ClipCodec::hevc, ClipCodec::mpeg4, ClipCodec::vp9}) {
        SCOPED_TRACE(clipCodecName(codec));
        SetUp();
        ClipSettings settings{.codec = codec, .width = 96, .height = 64, .fps = 30, .gop = 5};
        std::string clip = writeClip("red*15,blue*15", settings);

        ProcessResult played = runProcess({glimmoraCommand(), "play", "--inline", clip}, {}, std::chrono::seconds(30));
        EXPECT_EQ(played.exitCode, 0) << played.err;
        EXPECT_THAT(played.err, ::testing::HasSubstr("enqueued 30 samples"));
        EXPECT_THAT(played.err, ::testing::Not(::testing::HasSubstr("[Glim]")));

        // The last messages may still be on their way when the app has ended.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (log->messages().size() < 25 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::vector<std::string> messages = log->messages();
        ASSERT_EQ(messages.size(), 25u);  // samples 5 ... 29
        for (size_t i = 0; i < messages.size(); ++i) {
            float r, g, b, a;
            ASSERT_EQ(std::sscanf(messages[i].c_str(), "%f,%f,%f,%f", &r, &g, &b, &a), 4) << messages[i];
            const bool red = i < 10;
            EXPECT_NEAR(r, red ? 1.0f : 0.0f, 0.03f) << "message " << i << ": " << messages[i];
            EXPECT_NEAR(g, 0.0f, 0.03f) << "message " << i << ": " << messages[i];
            EXPECT_NEAR(b, red ? 0.0f : 1.0f, 0.03f) << "message " << i << ": " << messages[i];
            EXPECT_EQ(a, 1.0f);
        }
    }
}

// The full-screen player fits a picture of other proportions between black bars; the frame clock's
// sample lands in the middle, which is picture, so the colours are the picture's, never the bars'.
TEST_F(VideoApp, PicturesOfOtherProportionsSendTheirOwnColourNotTheBars) {
    for (auto [width, height] : {std::pair{64, 48}, std::pair{112, 48}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        SetUp();
        std::string clip = writeClip("orange*50", {.width = width, .height = height});
        ProcessResult played =
            runProcess({glimmoraCommand(), "play", "--player-layer", clip}, {}, std::chrono::seconds(30));
        EXPECT_EQ(played.exitCode, 0) << played.err;
        // The view is black until the first picture is shown; from then on it is orange.
        std::vector<std::string> messages = log->messages();
        auto first = std::find_if(messages.begin(), messages.end(),
                                  [](const std::string& m) { return std::atof(m.c_str()) > 0.9; });
        ASSERT_NE(first, messages.end()) << messages.size() << " messages, none orange";
        for (const std::string& message : std::vector<std::string>(first, messages.end())) {
            float r, g, b, a;
            ASSERT_EQ(std::sscanf(message.c_str(), "%f,%f,%f,%f", &r, &g, &b, &a), 4) << message;
            EXPECT_NEAR(r, 1.0f, 0.03f) << message;
            EXPECT_NEAR(g, 0.5f, 0.05f) << message;
            EXPECT_NEAR(b, 0.0f, 0.03f) << message;
        }
    }
}

TEST_F(VideoApp, WithActiveOffNothingIsSent) {
    std::string clip = writeClip("green*10");
    auto settings = device::openGlimmoraSettings();
    settings->setObject_forKey(NSNumber::numberWithBool(NO).get(), NSSTR(device::kActiveKey));

    ProcessResult played = runProcess({glimmoraCommand(), "play", clip});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_TRUE(log->messages().empty());
}

TEST_F(VideoApp, AFileThatIsNotAVideoIsRefusedClearly) {
    std::string text = devicePath_ + "/notes.txt";
    std::ofstream(text) << "not a video\n";
    ProcessResult played = runProcess({glimmoraCommand(), "play", text});
    EXPECT_NE(played.exitCode, 0);
    EXPECT_THAT(played.err, ::testing::HasSubstr("notes.txt"));

    ProcessResult missing = runProcess({glimmoraCommand(), "play", devicePath_ + "/missing.mp4"});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_THAT(missing.err, ::testing::HasSubstr("missing.mp4"));
}

TEST_F(VideoApp, ACutOffFilePlaysWhatItCan) {
    // Matroska can be read up to the damage (an MP4 without its index cannot be read at all).
    auto segments = parseTestPattern("red*20,blue*20");
    ASSERT_TRUE(succeeded(segments));
    std::string whole = devicePath_ + "/clip.mkv";
    ASSERT_TRUE(succeeded(writeTestPatternClip(whole, *segments, {.fps = 50})));
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::string cut = devicePath_ + "/cut.mkv";
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);

    ProcessResult played = runProcess({glimmoraCommand(), "play", cut});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, ::testing::HasSubstr("enqueued"));
    EXPECT_THAT(played.err, ::testing::Not(::testing::HasSubstr("enqueued 40 samples")));
    // The status says the video played; a warning says it was not all there.
    EXPECT_THAT(played.err,
                ::testing::ContainsRegex("warning: .*cut.mkv ended early: played 0\\.[0-9]+ s of 0\\.80 s"));
}

}  // namespace
