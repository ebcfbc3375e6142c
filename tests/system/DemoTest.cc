// The product as a user meets it: `glimmora demo` runs the whole chain and stops everything it
// started, `glimmora make-video` writes the built-in video, `glimmora lights` watches a device.
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <media/TestPattern.h>
#include <media/VideoFileReader.h>

#include <MRYIPC/ChannelSocket.h>
#include <apps/GlimmoraContract.h>

#include "support/StatusAssertions.h"
#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

std::string readFileAt(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
std::string readFile(const std::string& path) { return readFileAt(path); }

// The number the summary line starting with `label` gives; -1 when there is no such line.
long summaryCount(const std::string& output, const std::string& label) {
    std::smatch match;
    std::regex line(label + "[^\\n]*?(\\d+)\\n");
    return std::regex_search(output, match, line) ? std::stol(match[1]) : -1;
}

std::vector<pid_t> startedPids(const std::string& output) {
    std::vector<pid_t> pids;
    std::regex started("\\(pid (\\d+)\\)");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), started); it != std::sregex_iterator(); ++it)
        pids.push_back(static_cast<pid_t>(std::stol((*it)[1])));
    return pids;
}

bool gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

// Gone, or ended and waiting to be reaped by whoever took it over from its dead parent.
bool ended(pid_t pid) {
    if (gone(pid)) return true;
    std::string stat = readFileAt("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')');
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'Z';
}

// The demos' temporary devices under `root`.
std::vector<std::string> demoDevices(const std::string& root) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(root))
        if (entry.path().filename().string().rfind("glimmora-demo-", 0) == 0) found.push_back(entry.path());
    return found;
}

}  // namespace

TEST(Demo, PlaysAVideoThroughTheWholeChainAndSumsItUp) {
    TempDirectory directory;
    // A file name that would clear the screen if it were printed as it is.
    const std::string clip = directory.path() + "/clip\x1b[2J.mp4";
    auto pattern = parseTestPattern("red*20,blue*20,green*20");
    ASSERT_TRUE(succeeded(pattern));
    ASSERT_TRUE(succeeded(writeTestPatternClip(
        clip, *pattern, {.codec = ClipCodec::mpeg4, .width = 96, .height = 64, .fps = 30, .gop = 10})));

    const std::string device = directory.path() + "/device";
    ProcessResult demo =
        runProcess({glimmoraCommand(), "demo", clip, "--device", device}, {}, std::chrono::seconds(90));
    ASSERT_EQ(demo.exitCode, 0) << demo.out << demo.err;

    // Not a terminal: plain progress lines, then the summary; the file name shows escaped.
    EXPECT_EQ(demo.out.find("\x1b["), std::string::npos);
    EXPECT_NE(demo.out.find("clip\\x1b[2J.mp4"), std::string::npos) << demo.out;
    long frameClock = summaryCount(demo.out, "frames sent by the frame clock");
    long decoderPath = summaryCount(demo.out, "frames sent by the decoder path");
    long dropped = summaryCount(demo.out, "frames that could not be sent");
    long received = summaryCount(demo.out, "colour messages received");
    long writes = summaryCount(demo.out, "characteristic writes sent");
    EXPECT_GT(frameClock, 0) << demo.out;
    // The decoder path starts at the second keyframe after the first sample: samples 10 to 59.
    EXPECT_EQ(decoderPath, 50) << demo.out;
    EXPECT_EQ(received, frameClock + decoderPath) << "nothing is lost between processes on an idle channel\n"
                                                  << demo.out;
    EXPECT_EQ(dropped, 0);
    EXPECT_GT(writes, 0);
    EXPECT_NE(demo.out.find("latency from frame to write: median"), std::string::npos) << demo.out;

    // Every process it started has ended, and the lights of the selected rooms show the clip's end.
    std::vector<pid_t> pids = startedPids(demo.out);
    ASSERT_EQ(pids.size(), 2u) << demo.out;
    for (pid_t pid : pids) EXPECT_TRUE(gone(pid)) << pid;
    ProcessResult show = runProcess({glimmoraCommand(), "--device", device, "home", "show", "--json"});
    nlohmann::json homes = nlohmann::json::parse(show.out);
    auto light = [&](const std::string& name) {
        for (const auto& room : homes["homes"][0]["rooms"])
            for (const auto& each : room["lights"])
                if (each["name"] == name) return each;
        return nlohmann::json();
    };
    // Green, within what 8-bit video and integer writes allow.
    nlohmann::json lamp = light("Floor Lamp");
    EXPECT_EQ(lamp["power"], true) << lamp;
    EXPECT_NEAR(lamp["hue"].get<double>(), 120, 1) << lamp;
    EXPECT_NEAR(lamp["saturation"].get<double>(), 100, 1) << lamp;
    EXPECT_NEAR(lamp["brightness"].get<double>(), 100, 1) << lamp;
    // An unselected room keeps its colour.
    nlohmann::json reading = light("Reading Light");
    EXPECT_EQ(reading["power"], false) << reading;
    EXPECT_EQ(reading["brightness"], 70) << reading;
    EXPECT_EQ(reading["hue"], 50) << reading;
}

TEST(Demo, CtrlCStopsEveryProcessItStartedAndStillSumsUp) {
    TempDirectory directory;
    BackgroundProcess demo({glimmoraCommand(), "demo", "--device", directory.path()});
    ASSERT_TRUE(
        BackgroundProcess::waitFor([&] { return startedPids(demo.out()).size() == 2; }, std::chrono::seconds(60)))
        << demo.out() << demo.err();
    ProcessResult result = demo.stop(SIGINT);
    EXPECT_EQ(result.exitCode, 130) << result.out << result.err;
    EXPECT_NE(result.out.find("Summary"), std::string::npos) << result.out;
    for (pid_t pid : startedPids(result.out)) EXPECT_TRUE(gone(pid)) << pid;
}

TEST(Demo, RefusesAMissingVideoBeforeStartingAnything) {
    TempDirectory directory;
    ProcessResult demo =
        runProcess({glimmoraCommand(), "demo", directory.path() + "/none.mp4", "--device", directory.path()});
    EXPECT_NE(demo.exitCode, 0);
    EXPECT_NE(demo.err.find("none.mp4"), std::string::npos) << demo.err;
    EXPECT_TRUE(startedPids(demo.out).empty());
}

// The test accessories of --hap end with the demo: paired into a device that stays, they would be
// retried by every later home screen there.
TEST(Demo, RefusesRealAccessoriesOnAChosenDeviceBeforeStartingAnything) {
    TempDirectory directory;
    const std::string device = directory.path() + "/device";
    const std::vector<std::pair<std::vector<std::string>, std::map<std::string, std::string>>> ways = {
        {{glimmoraCommand(), "demo", "--hap", "--device", device}, {}},
        {{glimmoraCommand(), "demo", "--hap"}, {{"GLIMMORA_DEVICE", device}}},
    };
    for (const auto& [arguments, environment] : ways) {
        ProcessResult demo = runProcess(arguments, environment, std::chrono::seconds(90));
        EXPECT_NE(demo.exitCode, 0) << demo.out << demo.err;
        EXPECT_NE(demo.err.find("--hap: the test accessories end with the demo"), std::string::npos) << demo.err;
        EXPECT_NE(demo.err.find("leave out --device (and GLIMMORA_DEVICE)"), std::string::npos) << demo.err;
        EXPECT_TRUE(startedPids(demo.out).empty()) << demo.out;
        EXPECT_FALSE(std::filesystem::exists(device)) << "the demo prepared the device";
    }
}

// Its own home screen could not serve beside the other one: the demo would show nothing.
TEST(Demo, RefusesADeviceThatAnotherHomeScreenServes) {
    TempDirectory directory;
    BackgroundProcess homeScreen({glimmoraCommand(), "--device", directory.path(), "springboard"});
    const std::string socket = directory.path() + "/ipc/" + device::kColourChannelName;
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return device::ipc::servingProcess(socket) == homeScreen.pid(); },
                                           std::chrono::seconds(30)))
        << homeScreen.err();
    ProcessResult demo =
        runProcess({glimmoraCommand(), "demo", "--device", directory.path()}, {}, std::chrono::seconds(90));
    EXPECT_EQ(demo.exitCode, 1) << demo.out << demo.err;
    EXPECT_NE(demo.err.find("already served by process " + std::to_string(homeScreen.pid())), std::string::npos)
        << demo.err;
    EXPECT_TRUE(startedPids(demo.out).empty()) << demo.out;
    EXPECT_TRUE(homeScreen.running());
}

// A demo killed outright takes the processes it started with it; its temporary device stays behind
// until the next demo removes it.
TEST(Demo, KilledItsProcessesEndWithItAndTheNextDemoRemovesItsDevice) {
    TempDirectory temporary;
    unsetenv("GLIMMORA_DEVICE");  // a temporary device, in a folder of the test's own
    const std::map<std::string, std::string> environment = {{"TMPDIR", temporary.path()}};
    auto killed = std::make_unique<BackgroundProcess>(std::vector<std::string>{glimmoraCommand(), "demo"}, environment);
    ASSERT_TRUE(
        BackgroundProcess::waitFor([&] { return startedPids(killed->out()).size() == 2; }, std::chrono::seconds(90)))
        << killed->out() << killed->err();
    std::vector<std::string> left = demoDevices(temporary.path());
    ASSERT_EQ(left.size(), 1u);
    std::vector<pid_t> children = startedPids(killed->out());
    killed->stop(SIGKILL);
    for (pid_t pid : children)
        EXPECT_TRUE(BackgroundProcess::waitFor([&] { return ended(pid); }, std::chrono::seconds(30))) << pid;
    EXPECT_TRUE(std::filesystem::exists(left[0]));

    BackgroundProcess next({glimmoraCommand(), "demo"}, environment);
    EXPECT_TRUE(BackgroundProcess::waitFor([&] { return !std::filesystem::exists(left[0]); }, std::chrono::seconds(30)))
        << next.out() << next.err();
    EXPECT_TRUE(
        BackgroundProcess::waitFor([&] { return startedPids(next.out()).size() == 2; }, std::chrono::seconds(90)))
        << next.out() << next.err();
    EXPECT_NE(next.out().find("removed " + left[0]), std::string::npos) << next.out();
    ProcessResult stopped = next.stop(SIGINT);
    EXPECT_EQ(stopped.exitCode, 130) << stopped.out << stopped.err;
    EXPECT_TRUE(demoDevices(temporary.path()).empty());
}

// Whichever step fails, the demo stops what it started and removes its temporary device.
TEST(Demo, AFailedStepStopsItsProcessesAndLeavesNoTemporaryDevice) {
    TempDirectory temporary;
    unsetenv("GLIMMORA_DEVICE");  // a temporary device, in a folder of the test's own
    const std::string notAVideo = temporary.path() + "/notes.mp4";
    std::ofstream(notAVideo) << "not a video\n";
    struct Case {
        std::string failing, itsLog;
        std::map<std::string, std::string> environment;
    };
    const std::vector<Case> cases = {
        {"the video app", "glimmora play: cannot open", {{"TMPDIR", temporary.path()}}},
        // Without the library the home screen ends before its colour server comes up.
        {"the home screen",
         "glimmora app: cannot load",
         {{"TMPDIR", temporary.path()}, {"GLIMMORA_LIBRARY", temporary.path() + "/none.so"}}},
    };
    for (const Case& each : cases) {
        ProcessResult demo =
            runProcess({glimmoraCommand(), "demo", notAVideo}, each.environment, std::chrono::seconds(90));
        EXPECT_EQ(demo.exitCode, 1) << demo.out << demo.err;
        // The failed process is named, and the end of its own log follows.
        size_t named = demo.err.find("glimmora demo: " + each.failing + " exited with status 1");
        EXPECT_NE(named, std::string::npos) << demo.err;
        EXPECT_NE(demo.err.find(each.itsLog, named), std::string::npos) << demo.err;
        for (pid_t pid : startedPids(demo.out)) EXPECT_TRUE(gone(pid)) << each.failing << " " << pid;
        EXPECT_TRUE(demoDevices(temporary.path()).empty()) << each.failing;
    }
}

TEST(BuiltInVideo, IsTheSameEveryTimeAndShowsItsScenes) {
    TempDirectory directory;
    const std::string first = directory.path() + "/a.mp4", second = directory.path() + "/b.mp4";
    ASSERT_EQ(runProcess({glimmoraCommand(), "make-video", first}).exitCode, 0);
    ASSERT_EQ(runProcess({glimmoraCommand(), "make-video", second}).exitCode, 0);
    EXPECT_EQ(readFile(first), readFile(second));

    auto reader = expectValue(VideoFileReader::open(first));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->dimensions().width, 640);
    EXPECT_EQ(reader->dimensions().height, 360);
    ProcessResult refused = runProcess({glimmoraCommand(), "make-video", directory.path() + "/no/such/dir/c.mp4"});
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_FALSE(refused.err.empty());
}
