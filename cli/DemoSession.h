// One run of `glimmora demo`, one member function per phase: prepare the device, make the video,
// start the home screen and wait for its colour server, start the video app, show the live view
// until the video ends, stop both processes, sum up.
//
// The session owns what it makes: the temporary device (when no device was chosen) and the two
// processes. However a run ends (a phase that fails, a stop signal, an exception), the processes
// are stopped and then the temporary device is removed, at the latest when the session is
// destroyed.
//
// One thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DemoChild.h"
#include "DemoDevice.h"
#include "settings/SettingsServer.h"

struct DemoOptions {
    std::string video;  // empty: the built-in video, made in the device directory
    // A live source instead of a video: the app's arguments ("--live", SOURCE, and its options).
    std::vector<std::string> live;
    std::string app = "safari";
    // Also run two test accessories (in a network of the demo's own holding only loopback) and pair
    // them into "Living Room" beside the simulated lights. Only on a temporary device: the command
    // refuses it on a chosen one, which would keep pairings with accessories that are gone.
    bool realAccessories = false;
    // Also serve the settings page (on 127.0.0.1, any free port) while the demo runs, and print its address.
    bool settingsPage = false;
};

class DemoSession {
public:
    explicit DemoSession(DemoOptions options) : options_(std::move(options)) {}
    DemoSession(const DemoSession&) = delete;
    DemoSession& operator=(const DemoSession&) = delete;

    // Runs every phase and returns the demo's exit status: 0, 1 when a phase or a process failed
    // (said on standard error), 130 when a stop signal ended the demo after both processes started.
    int run();

private:
    // Why the demo ends early: what to tell the user and, when one of the processes is at fault,
    // that process, whose log's end is shown after the message.
    struct Failure {
        std::string message;
        const DemoChild* process = nullptr;
    };

    // The phases before the live view throw a Failure.
    void prepareDevice();
    void prepareVideo();
    void startRealAccessories();
    void startSettingsPage();
    void startHomeScreen();
    void startApp();
    // Shows the live view until the video ends, a process ends or a stop is asked for.
    std::optional<Failure> watch();
    // Stops the processes that were started (the app first), and says which of them did not end well.
    std::optional<Failure> stopProcesses();
    // Says on standard error what failed, then the last lines of the log under `logHeading`.
    void report(const Failure& failure, const char* logHeading) const;

    DemoOptions options_;
    // Declared before the processes, so destroyed after them: their logs and lock live in it.
    std::unique_ptr<TemporaryDevice> temporary_;
    std::string directory_, video_;
    std::unique_ptr<DemoChild> homeScreen_, app_;
    std::vector<std::unique_ptr<DemoChild>> accessories_;
    std::unique_ptr<SettingsServer> settings_;
};
