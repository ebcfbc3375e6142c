// `glimmora demo`: the whole chain on one screen. It prepares a device (the built-in home, some of
// its rooms selected), starts the home screen, waits for its colour server, starts a video app
// playing a video (the built-in one unless given), shows the live light view until the video
// ends, stops everything it started, and sums up what each process did.
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

#include <Foundation/DeviceDirectory.h>
#include <Foundation/PrintableText.h>
#include <HomeKit/HomeDescription.h>
#include <MRYIPC/ChannelSocket.h>
#include <activity/ProcessActivity.h>
#include <apps/GlimmoraSettings.h>
#include <apps/DemoVideo.h>
#include <apps/SpringBoard.h>

#include "Commands.h"
#include "DemoChild.h"
#include "DemoDevice.h"
#include "DemoSignals.h"
#include "LightView.h"

namespace {

// The rooms of the built-in home the demo selects; the others stay as they are, for contrast.
const std::vector<std::string> kDemoRooms = {"Living Room", "Kitchen"};

struct DemoOptions {
    std::string video;
    std::string app = "safari";
};

void say(const std::string& line) { std::cout << "demo: " << line << std::endl; }

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "glimmora demo: " << message << std::endl;
    throw CLI::RuntimeError(1);
}

// The process serving the device's colour channel; 0 when none does.
int colourServer() {
    std::string path = device::ipc::channelSocketPath(kColourChannelName, nullptr);
    return path.empty() ? 0 : device::ipc::servingProcess(path);
}

std::string lastLines(const std::string& path, size_t count) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return {};
    std::vector<std::string> lines;
    char buffer[1024];
    while (std::fgets(buffer, sizeof buffer, file)) {
        lines.emplace_back(buffer);
        if (lines.size() > count) lines.erase(lines.begin());
    }
    std::fclose(file);
    // A log holds what the processes were given (names, file names): escaped, it cannot act on a terminal.
    std::string text;
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\n') line.pop_back();
        text += "    " + device::printable(line) + "\n";
    }
    return text;
}

// Warns about, or on a device the demo made itself sets, the switches that would keep the video
// app from being served.
void checkSwitches(const DemoOptions& options, bool freshDevice) {
    Strong<HBPreferences> settings = device::openGlimmoraSettings();
    settings->registerDefaults(NSDictionary::dictionaryWithEntries(
        {{NSSTR("Enabled"), NSNumber::numberWithBool(YES)}, {NSSTR("Youtube"), NSNumber::numberWithBool(NO)}}));
    if (!settings->boolForKey(NSSTR("Enabled")))
        say("warning: \"Enabled\" is off on this device, so the library does nothing; "
            "`glimmora prefs write com.tovek.glimmora Enabled YES --bool` turns it on");
    if (options.app != "youtube" || settings->boolForKey(NSSTR("Youtube"))) return;
    if (freshDevice) {
        settings->setObject_forKey(NSNumber::numberWithBool(YES), NSSTR("Youtube"));
        say("turned on the \"Youtube\" setting, which admits the YouTube app");
    } else {
        say("warning: the \"Youtube\" setting is off on this device, so the library ignores the YouTube app; "
            "`glimmora prefs write com.tovek.glimmora Youtube YES --bool` turns it on");
    }
}

std::string milliseconds(double micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", micros / 1000);
    return text;
}

std::string latencyText(const device::LatencyHistogram& histogram) {
    if (histogram.count() == 0) return "no writes";
    return "median " + milliseconds(histogram.percentileMicros(0.5)) + ", 99th percentile " +
           milliseconds(histogram.percentileMicros(0.99)) + " (" + std::to_string(histogram.count()) + " writes)";
}

void printSummary(const DemoChild& homeScreen, const DemoChild& app) {
    std::string directory = device::deviceDirectory();
    device::ActivitySnapshot sent, served;
    device::readProcessActivity(directory, app.pid(), sent);
    device::readProcessActivity(directory, homeScreen.pid(), served);
    using device::Activity;
    auto difference = [](uint64_t a, uint64_t b) { return a > b ? a - b : 0; };
    uint64_t received = served[Activity::callsReceivedFireAndForget] + served[Activity::callsReceivedAcknowledged];
    uint64_t unchanged = difference(served[Activity::lightValuesRead], served[Activity::writesIssued]);
    uint64_t passedOver = difference(served[Activity::lightCharacteristicsOffered], served[Activity::lightValuesRead]);
    device::LatencyHistogram all;
    for (const auto& histogram : served.latency) all.merge(histogram);

    std::cout << "\nSummary\n"
              << "  frames sent by the frame clock (the full-screen player's view): "
              << sent[Activity::callsSentFireAndForget] << "\n"
              << "  frames sent by the decoder path (the samples the app enqueued): "
              << sent[Activity::callsSentAcknowledged] << "\n"
              << "  frames that could not be sent (no server, channel full):         " << sent[Activity::callsDropped]
              << "\n"
              << "  colour messages received by the home screen:                     " << received << "\n"
              << "  characteristic writes sent:                                      " << served[Activity::writesIssued]
              << "\n"
              << "  left unchanged (the light already had the value):                " << unchanged << "\n"
              << "  skipped while a write to the light was in flight:                " << passedOver << "\n"
              << "  writes that failed:                                              " << served[Activity::writesFailed]
              << "\n"
              << "  latency from frame to write: " << latencyText(all) << "\n"
              << "    frame clock:  " << latencyText(served.latency[static_cast<size_t>(device::CallKind::fireAndForget)])
              << "\n"
              << "    decoder path: " << latencyText(served.latency[static_cast<size_t>(device::CallKind::acknowledged)])
              << std::endl;
    // Zeros from a process that could not count would read as nothing done.
    for (const auto& [child, role] : {std::pair{&app, "the video app"}, std::pair{&homeScreen, "the home screen"}})
        if (device::runsWithoutRecord(directory, child->pid()))
            std::cout << "  activity record missing: " << role << " (pid " << child->pid()
                      << ") had no room for it on the disk, so its counts above are missing" << std::endl;
}

int runDemo(const DemoOptions& options) {
    catchStopSignals();
    // A fresh device in a temporary folder unless one was chosen.
    std::unique_ptr<TemporaryDevice> temporary;
    const char* chosen = std::getenv("GLIMMORA_DEVICE");
    if (chosen == nullptr || *chosen == '\0') {
        std::vector<std::string> stale;
        std::string error;
        temporary = TemporaryDevice::make(&stale, &error);
        for (const std::string& path : stale) say("removed " + path + ", left behind by a demo that was killed");
        if (!temporary) fail(error);
        setenv("GLIMMORA_DEVICE", temporary->path().c_str(), 1);
    }
    std::string directory = device::deviceDirectory();
    if (device::Status problem = device::ensurePrivateDirectory(directory); !problem.ok()) fail(problem.message());
    // Its own home screen could not serve beside another: the demo would show nothing.
    if (int other = colourServer(); other != 0)
        fail("the device " + directory + " is already served by " + device::ipc::describeProcess(other) +
             "; stop that home screen or give the demo another device (--device)");
    say("device directory " + directory + (temporary ? " (temporary, removed at the end)" : ""));

    struct stat info {};
    bool freshDevice = stat(homeDescriptionPath().c_str(), &info) != 0;
    if (freshDevice) {
        installExampleHome(false);
        setRoomsSelected(kDemoRooms, true);
    }
    checkSwitches(options, freshDevice);

    std::string video = options.video;
    if (video.empty()) {
        video = directory + "/demo-video.mp4";
        std::string error;
        say("making the built-in video (12 s of hue sweeps, cuts, black, white, a fade)...");
        if (!device::writeDemoVideo(video, &error)) fail("cannot make the built-in video: " + error);
    }

    std::string error;
    std::unique_ptr<DemoChild> homeScreen =
        DemoChild::start("the home screen", {"springboard"}, directory + "/demo-springboard.log", &error);
    if (!homeScreen) fail(error);
    say("started the home screen (pid " + std::to_string(homeScreen->pid()) + "); waiting for its colour server");
    for (int waited = 0; colourServer() != homeScreen->pid(); waited += 50) {
        if (!homeScreen->running() || stopRequested() || waited > 15000) {
            std::string why = stopRequested()     ? "stopped"
                              : homeScreen->running() ? "the colour server did not come up within 15 s"
                                                       : "the home screen " + homeScreen->howItEnded();
            homeScreen->stop(std::chrono::seconds(2));
            fail(why + "; its log:\n" + lastLines(homeScreen->logPath(), 10));
        }
        sleepUnlessStopped(50);
    }

    std::unique_ptr<DemoChild> app = DemoChild::start(
        "the video app", {"play", video, "--app", options.app}, directory + "/demo-app.log", &error);
    if (!app) fail(error);
    say("the colour server is up; playing " + device::printable(video) + " in the " + options.app + " app (pid " +
        std::to_string(app->pid()) + "); Ctrl-C stops the demo");

    std::string problem;
    {
        LightView view(std::cout, isatty(STDOUT_FILENO) != 0, "Glimmora: the lights follow the video");
        auto started = std::chrono::steady_clock::now();
        auto seconds = [&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        };
        char status[96];
        while (app->running() && homeScreen->running() && !stopRequested()) {
            std::snprintf(status, sizeof status, "playing, %.1f s", seconds());
            view.refresh(status);
            sleepUnlessStopped(100);
        }
        if (!homeScreen->running()) problem = "the home screen " + homeScreen->howItEnded();
        else if (!app->running() && !app->endedWell()) problem = "the video app " + app->howItEnded();
        // The last writes land after their accessories' latency: let the view show them.
        for (int settle = 0; settle < 10 && problem.empty() && !stopRequested(); ++settle) {
            std::snprintf(status, sizeof status, "video ended, %.1f s; settling", seconds());
            view.refresh(status);
            sleepUnlessStopped(100);
        }
        view.refresh(stopRequested() ? "stopped" : problem.empty() ? "video ended" : problem);
    }
    app->stop(std::chrono::seconds(3));
    homeScreen->stop(std::chrono::seconds(3));
    if (problem.empty() && !app->endedWell()) problem = "the video app " + app->howItEnded();
    if (problem.empty() && !homeScreen->endedWell()) problem = "the home screen " + homeScreen->howItEnded();

    printSummary(*homeScreen, *app);
    if (!problem.empty()) {
        DemoChild& culprit = problem.rfind("the home screen", 0) == 0 ? *homeScreen : *app;
        std::cerr << "glimmora demo: " << problem << "; the end of its log:\n" << lastLines(culprit.logPath(), 10);
    }
    temporary.reset();
    if (stopRequested()) {
        say("stopped");
        return 130;
    }
    return problem.empty() ? 0 : 1;
}

}  // namespace

void addDemoCommand(CLI::App& app) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* command = app.add_subcommand(
        "demo", "Show the whole chain: prepare a device (the built-in home, \"Living Room\" and \"Kitchen\" "
                "selected), start the home screen, play VIDEO (else the built-in video) in a video app, show the "
                "lights following it live, then stop everything and print a summary (frames sent by each capture "
                "path, messages received, writes sent, unchanged, skipped and failed, latency from frame to "
                "write). Uses a fresh temporary device unless --device (or GLIMMORA_DEVICE) names one; a device "
                "that has a home keeps it and its room selection, and a device another home screen already serves is "
                "refused. A temporary device left behind by a demo that was killed is removed by the next demo");
    command->add_option("VIDEO", options->video, "The video to play (anything FFmpeg reads); default: the built-in video")
        ->check(CLI::ExistingFile);
    command->add_option("--app", options->app, "The video app: safari or youtube")
        ->check(CLI::IsMember({"safari", "youtube"}))
        ->capture_default_str();
    command->callback([options] {
        int status = runDemo(*options);
        std::cout.flush();
        std::exit(status);
    });
}
