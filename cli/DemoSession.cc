#include "DemoSession.h"

#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <vector>

#include <Foundation/DeviceDirectory.h>
#include <Foundation/PrintableText.h>
#include <MRYIPC/ChannelSocket.h>
#include <accessories/RealAccessoryPairing.h>
#include <apps/ColourDelivery.h>
#include <apps/DemoVideo.h>
#include <apps/GlimmoraSettings.h>
#include <apps/LoopbackNetwork.h>
#include <homes/HomeDescription.h>

#include "Commands.h"
#include "DemoSignals.h"
#include "DemoSummary.h"
#include "LightView.h"

namespace {

// The rooms of the built-in home the demo selects; the others stay as they are, for contrast.
const std::vector<std::string> kDemoRooms = {"Living Room", "Kitchen"};

// The test accessories of `demo --hap`: their names, ports (in the demo's own network) and code.
const char* const kRealLampNames[] = {"Real Lamp A", "Real Lamp B"};
constexpr uint16_t kFirstRealLampPort = 51826;
constexpr const char* kRealLampCode = "031-45-154";

bool logSays(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return false;
    char buffer[1024];
    bool found = false;
    while (!found && std::fgets(buffer, sizeof buffer, file)) found = std::strstr(buffer, text.c_str()) != nullptr;
    std::fclose(file);
    return found;
}

void say(const std::string& line) { std::cout << "demo: " << line << std::endl; }

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
    Strong<HBPreferences> settings = device::openGlimmoraSettingsWithDefaults();
    if (!settings->boolForKey(NSSTR(device::kEnabledKey)))
        say("warning: \"Enabled\" is off on this device, so the library does nothing; "
            "`glimmora prefs write com.tovek.glimmora Enabled YES --bool` turns it on");
    if (options.app != "youtube" || settings->boolForKey(NSSTR(device::kYoutubeKey))) return;
    if (freshDevice) {
        settings->setObject_forKey(NSNumber::numberWithBool(YES), NSSTR(device::kYoutubeKey));
        say("turned on the \"Youtube\" setting, which admits the YouTube app");
    } else {
        say("warning: the \"Youtube\" setting is off on this device, so the library ignores the YouTube app; "
            "`glimmora prefs write com.tovek.glimmora Youtube YES --bool` turns it on");
    }
}

}  // namespace

int DemoSession::run() {
    // Before any thread starts: the accessories and everything that talks to them stay on this machine.
    if (options_.realAccessories) {
        if (device::Status moved = device::enterLoopbackOnlyNetwork(); !moved.ok()) {
            std::cerr << "glimmora demo: --hap runs the test accessories in a network of its own holding only "
                         "loopback, and none could be made: "
                      << moved.message() << std::endl;
            return 1;
        }
    }
    catchStopSignals();
    try {
        prepareDevice();
        prepareVideo();
        if (options_.realAccessories) startRealAccessories();
        if (options_.settingsPage) startSettingsPage();
        startHomeScreen();
        startApp();
    } catch (const Failure& early) {
        stopProcesses();
        report(early, "its log");
        return 1;
    }
    std::optional<Failure> failure = watch();
    if (std::optional<Failure> late = stopProcesses(); !failure) failure = late;
    printDemoSummary(*homeScreen_, *app_);
    if (failure) report(*failure, "the end of its log");
    temporary_.reset();
    if (stopRequested()) {
        say("stopped");
        return 130;
    }
    return failure ? 1 : 0;
}

void DemoSession::prepareDevice() {
    // A fresh device in a temporary folder unless one was chosen.
    const char* chosen = std::getenv("GLIMMORA_DEVICE");
    if (chosen == nullptr || *chosen == '\0') {
        std::vector<std::string> stale;
        device::StatusOr<std::unique_ptr<TemporaryDevice>> made = TemporaryDevice::make(&stale);
        for (const std::string& path : stale) say("removed " + path + ", left behind by a demo that was killed");
        if (!made.ok()) throw Failure{made.status().message()};
        temporary_ = *std::move(made);
        setenv("GLIMMORA_DEVICE", temporary_->path().c_str(), 1);
    }
    directory_ = device::deviceDirectory();
    if (device::Status problem = device::ensurePrivateDirectory(directory_); !problem.ok())
        throw Failure{problem.message()};
    // Its own home screen could not serve beside another: the demo would show nothing.
    if (int other = device::colourServerProcess(); other != 0)
        throw Failure{"the device " + directory_ + " is already served by " + device::ipc::describeProcess(other) +
                      "; stop that home screen or give the demo another device (--device)"};
    say("device directory " + directory_ + (temporary_ ? " (temporary, removed at the end)" : ""));

    struct stat info {};
    bool freshDevice = stat(homeDescriptionPath().c_str(), &info) != 0;
    if (freshDevice) {
        installExampleHome(false);
        setRoomsSelected(kDemoRooms, true);
    }
    checkSwitches(options_, freshDevice);
}

void DemoSession::prepareVideo() {
    video_ = options_.video;
    if (!video_.empty() || !options_.live.empty()) return;
    video_ = directory_ + "/demo-video.mp4";
    say("making the built-in video (12 s of hue sweeps, cuts, black, white, a fade)...");
    if (device::Status written = device::writeDemoVideo(video_); !written.ok())
        throw Failure{"cannot make the built-in video: " + written.message()};
}

void DemoSession::startRealAccessories() {
    std::string script = std::string(GLIMMORA_ACCESSORY_DIR) + "/accessory.js";
    if (access((std::string(GLIMMORA_ACCESSORY_DIR) + "/node_modules/hap-nodejs").c_str(), F_OK) != 0)
        throw Failure{"the test accessories are not installed (" + std::string(GLIMMORA_ACCESSORY_DIR) +
                      "/node_modules); scripts/setup --tests installs them"};
    for (size_t i = 0; i < std::size(kRealLampNames); ++i) {
        uint16_t port = static_cast<uint16_t>(kFirstRealLampPort + i);
        std::string log = directory_ + "/demo-accessory-" + std::to_string(i + 1) + ".log";
        auto started = DemoChild::startProgram(
            "test accessory " + std::to_string(i + 1), "node",
            {script, "--port", std::to_string(port), "--code", kRealLampCode, "--storage",
             directory_ + "/demo-accessory-" + std::to_string(i + 1), "--name", kRealLampNames[i]},
            log);
        if (!started.ok()) throw Failure{started.status().message()};
        std::unique_ptr<DemoChild> accessory = *std::move(started);
        for (int waited = 0; !logSays(log, "ready"); waited += 50) {
            if (stopRequested()) throw Failure{"stopped", accessory.get()};
            if (!accessory->running())
                throw Failure{accessory->name() + " " + accessory->howItEnded(), accessory.get()};
            if (waited > 20000) throw Failure{accessory->name() + " did not start within 20 s", accessory.get()};
            sleepUnlessStopped(50);
        }
        accessories_.push_back(std::move(accessory));
        device::RealAccessoryRequest request;
        request.name = kRealLampNames[i];
        request.room = "Living Room";
        request.host = "127.0.0.1";
        request.port = port;
        request.setupCode = kRealLampCode;
        std::string summary;
        if (device::Status paired = device::pairRealAccessory(request, &summary); !paired.ok())
            throw Failure{paired.message(), accessories_.back().get()};
        say(summary);
    }
}

void DemoSession::startSettingsPage() {
    SettingsServer::Options where;
    where.port = 0;
    device::StatusOr<std::unique_ptr<SettingsServer>> started = SettingsServer::start(where);
    if (!started.ok()) throw Failure{"the settings page cannot be served: " + started.status().message()};
    settings_ = *std::move(started);
    say("the settings page of this device, live while the demo runs: " + settings_->pageAddress());
}

void DemoSession::startHomeScreen() {
    auto started = DemoChild::start("the home screen", {"springboard"}, directory_ + "/demo-springboard.log");
    if (!started.ok()) throw Failure{started.status().message()};
    homeScreen_ = *std::move(started);
    say("started the home screen (pid " + std::to_string(homeScreen_->pid()) + "); waiting for its colour server");
    for (int waited = 0; device::colourServerProcess() != homeScreen_->pid(); waited += 50) {
        if (stopRequested()) throw Failure{"stopped", homeScreen_.get()};
        if (!homeScreen_->running()) throw Failure{"the home screen " + homeScreen_->howItEnded(), homeScreen_.get()};
        if (waited > 15000) throw Failure{"the colour server did not come up within 15 s", homeScreen_.get()};
        sleepUnlessStopped(50);
    }
}

void DemoSession::startApp() {
    std::vector<std::string> arguments = {"play", "--app", options_.app};
    if (options_.live.empty())
        arguments.push_back(video_);
    else
        arguments.insert(arguments.end(), options_.live.begin(), options_.live.end());
    auto started = DemoChild::start("the video app", arguments, directory_ + "/demo-app.log");
    if (!started.ok()) throw Failure{started.status().message()};
    app_ = *std::move(started);
    const std::string what = options_.live.empty() ? device::printable(video_) : options_.live[1] + " live";
    say("the colour server is up; playing " + what + " in the " + options_.app + " app (pid " +
        std::to_string(app_->pid()) + "); Ctrl-C stops the demo");
}

std::optional<DemoSession::Failure> DemoSession::watch() {
    LightView view(std::cout, isatty(STDOUT_FILENO) != 0, "Glimmora: the lights follow the video");
    auto started = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
    char status[96];
    while (app_->running() && homeScreen_->running() && !stopRequested()) {
        std::snprintf(status, sizeof status, "playing, %.1f s", seconds());
        view.refresh(status);
        sleepUnlessStopped(100);
    }
    std::optional<Failure> failure;
    if (!homeScreen_->running())
        failure = Failure{"the home screen " + homeScreen_->howItEnded(), homeScreen_.get()};
    else if (!app_->running() && !app_->endedWell())
        failure = Failure{"the video app " + app_->howItEnded(), app_.get()};
    // The last writes land after their accessories' latency: let the view show them.
    for (int settle = 0; settle < 10 && !failure && !stopRequested(); ++settle) {
        std::snprintf(status, sizeof status, "video ended, %.1f s; settling", seconds());
        view.refresh(status);
        sleepUnlessStopped(100);
    }
    view.refresh(stopRequested() ? "stopped" : failure ? failure->message : "video ended");
    return failure;
}

std::optional<DemoSession::Failure> DemoSession::stopProcesses() {
    if (settings_) settings_->stop();
    if (app_) app_->stop(std::chrono::seconds(3));
    if (homeScreen_) homeScreen_->stop(std::chrono::seconds(3));
    for (auto& accessory : accessories_) accessory->stop(std::chrono::seconds(3));
    if (app_ && !app_->endedWell()) return Failure{"the video app " + app_->howItEnded(), app_.get()};
    if (homeScreen_ && !homeScreen_->endedWell())
        return Failure{"the home screen " + homeScreen_->howItEnded(), homeScreen_.get()};
    return std::nullopt;
}

void DemoSession::report(const Failure& failure, const char* logHeading) const {
    std::cerr << "glimmora demo: " << failure.message;
    if (failure.process)
        std::cerr << "; " << logHeading << ":\n" << lastLines(failure.process->logPath(), 10);
    else
        std::cerr << std::endl;
}
