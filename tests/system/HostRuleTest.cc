// Which processes the library acts in, and what it changes there, seen through real processes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <csignal>
#include <sstream>

#include <HBPreferences/HBPreferences.h>
#include <apps/GlimmoraContract.h>
#include <apps/GlimmoraSettings.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class HostRule : public ::testing::Test {
protected:
    void SetUp() override { setenv("GLIMMORA_DEVICE", device.path().c_str(), 1); }

    void store(const char* key, BOOL value) {
        Strong<HBPreferences> settings = device::openGlimmoraSettings();
        settings->setObject_forKey(NSNumber::numberWithBool(value), NSString::stringWithUTF8String(key));
    }

    // The numbered change lines `glimmora app BUNDLE --describe` prints.
    std::vector<std::string> changes(const std::string& bundleIdentifier) {
        std::vector<std::string> argv{glimmoraCommand(), "app"};
        if (!bundleIdentifier.empty()) argv.push_back(bundleIdentifier);
        argv.push_back("--describe");
        ProcessResult result = runProcess(argv, {{"GLIMMORA_DEVICE", device.path()}});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        std::vector<std::string> lines;
        std::istringstream text(result.out);
        for (std::string line; std::getline(text, line);) {
            auto dot = line.find(". ");
            if (dot != std::string::npos && dot > 0 && std::isdigit(static_cast<unsigned char>(line[0])))
                lines.push_back(line.substr(dot + 2));
        }
        return lines;
    }

    TempDirectory device;
};

const std::vector<std::string> videoAppChanges{
    "AVSampleBufferDisplayLayer hook enqueueSampleBuffer: v24@0:8^{opaqueCMSampleBuffer=}16",
    "AVFullScreenViewController add-property displayLink T@\"CADisplayLink\",&,N",
    "AVFullScreenViewController add-method displayLink @@:",
    "AVFullScreenViewController add-method setDisplayLink: v@:@",
    "AVFullScreenViewController hook viewDidAppear: v20@0:8B16",
    "AVFullScreenViewController hook viewWillDisappear: v20@0:8B16",
    "AVFullScreenViewController hook viewDidDisappear: v20@0:8B16",
    "AVFullScreenViewController hook dealloc v16@0:8",
    "AVFullScreenViewController add-method update v@:",
};

const std::vector<std::string> homeScreenChanges{
    "SpringBoard add-property glimDisplayLink T@\"CADisplayLink\",&,N",
    "SpringBoard add-method glimDisplayLink @@:",
    "SpringBoard add-method setGlimDisplayLink: v@:@",
    "SpringBoard add-property glimColor T@\"UIColor\",&,N",
    "SpringBoard add-method glimColor @@:",
    "SpringBoard add-method setGlimColor: v@:@",
    "SpringBoard hook applicationDidFinishLaunching: v24@0:8@16",
    "SpringBoard add-method _updateColors: v@:@",
};

TEST_F(HostRule, WithNothingStoredTheHomeScreenAndSafariAreHookedInTableOrder) {
    EXPECT_EQ(changes("com.apple.springboard"), homeScreenChanges);
    EXPECT_EQ(changes("com.apple.mobilesafari"), videoAppChanges);
    EXPECT_THAT(changes("com.google.ios.youtube"), IsEmpty()) << "YouTube is admitted only by its switch";
}

TEST_F(HostRule, TheYoutubeSwitchAdmitsTheYoutubeAppAtItsNextStart) {
    store(device::kYoutubeKey, YES);
    EXPECT_EQ(changes("com.google.ios.youtube"), videoAppChanges);
}

TEST_F(HostRule, EnabledOffLeavesEveryProcessUntouched) {
    store(device::kEnabledKey, NO);
    store(device::kYoutubeKey, YES);
    EXPECT_THAT(changes("com.apple.springboard"), IsEmpty());
    EXPECT_THAT(changes("com.apple.mobilesafari"), IsEmpty());
    EXPECT_THAT(changes("com.google.ios.youtube"), IsEmpty());
}

TEST_F(HostRule, OtherProcessesAreNotHosts) {
    EXPECT_THAT(changes("com.apple.SpringBoard"), IsEmpty()) << "identifiers match with their letter case";
    EXPECT_THAT(changes("com.apple.MobileSafari"), IsEmpty());
    EXPECT_THAT(changes("com.example.notes"), IsEmpty());
    EXPECT_THAT(changes(""), IsEmpty()) << "a process without a bundle identifier";
}

TEST_F(HostRule, TheDescriptionListsEachTouchedClassWithReplacedAndAddedMembers) {
    ProcessResult result = runProcess({glimmoraCommand(), "app", "com.apple.mobilesafari", "--describe"},
                                      {{"GLIMMORA_DEVICE", device.path()}});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.out, ::testing::HasSubstr("class AVFullScreenViewController : UIViewController"));
    EXPECT_THAT(result.out, ::testing::HasSubstr("  -viewDidAppear:  v20@0:8B16  replaced"));
    EXPECT_THAT(result.out, ::testing::HasSubstr("  -update  v@:  added"));
    EXPECT_THAT(result.out, ::testing::HasSubstr("  -dealloc  v16@0:8  replaced"));
    EXPECT_THAT(result.out, ::testing::HasSubstr("  @property displayLink  T@\"CADisplayLink\",&,N"));
    EXPECT_THAT(result.out,
                ::testing::HasSubstr("  -enqueueSampleBuffer:  v24@0:8^{opaqueCMSampleBuffer=}16  replaced"));
}

TEST_F(HostRule, AProcessRunsUntilSigtermAndEndsCleanly) {
    BackgroundProcess process({glimmoraCommand(), "app", "com.apple.springboard"},
                              {{"GLIMMORA_DEVICE", device.path()}});
    // The line comes once the process takes its signals itself.
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return process.err().find(" running (pid ") != std::string::npos; }))
        << process.err();
    ASSERT_TRUE(process.running()) << process.err();
    ProcessResult result = process.stop(SIGTERM);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.signal, 0);
}

}  // namespace
