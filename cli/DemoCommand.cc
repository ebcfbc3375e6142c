// `glimmora demo`: the whole chain on one screen. It prepares a device (the built-in home, some of
// its rooms selected), starts the home screen, waits for its colour server, starts a video app
// playing a video (the built-in one unless given), shows the live light view until the video
// ends, stops everything it started, and sums up what each process did.
#include <cstdlib>
#include <iostream>
#include <memory>

#include <media/LiveSourceRequest.h>
#include "Commands.h"
#include "DemoSession.h"

void addDemoCommand(CLI::App& app) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* command = app.add_subcommand(
        "demo",
        "Show the whole chain: prepare a device (the built-in home, \"Living Room\" and \"Kitchen\" "
        "selected), start the home screen, play VIDEO (else the built-in video) in a video app, show the "
        "lights following it live, then stop everything and print a summary (frames sent by each capture "
        "path, messages received, writes sent, unchanged, skipped and failed, latency from frame to "
        "write). Uses a fresh temporary device unless --device (or GLIMMORA_DEVICE) names one; a device "
        "that has a home keeps it and its room selection, and a device another home screen already serves is "
        "refused. A temporary device left behind by a demo that was killed is removed by the next demo");
    CLI::Option* video = command
                             ->add_option("VIDEO", options->video,
                                          "The video to play (anything FFmpeg reads); default: the built-in video")
                             ->check(CLI::ExistingFile);
    auto live = std::make_shared<std::string>();
    auto size = std::make_shared<std::string>();
    auto frameRate = std::make_shared<double>(0);
    CLI::Option* liveOption =
        command
            ->add_option("--live", *live,
                         "Follow a live source instead of a video, until Ctrl-C or the source ends: x11:DISPLAY[+X,Y], "
                         "v4l2:PATH, lavfi:GRAPH, portal[:monitor|:window] or pipewire:NODE, as `glimmora play "
                         "--live` takes it")
            ->excludes(video);
    command->add_option("--size", *size, "x11: the size WxH of the screen region to follow")->needs(liveOption);
    CLI::Option* frameRateOption =
        command
            ->add_option("--framerate", *frameRate,
                         "x11, v4l2: frames per second to grab, 0.1 to 1000 (at least one frame every 10 s)")
            ->needs(liveOption);
    command->add_option("--app", options->app, "The video app: safari or youtube")
        ->check(CLI::IsMember({"safari", "youtube"}))
        ->capture_default_str();
    command->add_flag(
        "--hap", options->realAccessories,
        "Also start two test HomeKit accessories (hap-nodejs, installed by scripts/setup --tests) in a network "
        "of the demo's own that holds only loopback, pair them into \"Living Room\" and let them "
        "follow the video beside the simulated lights; the view shows what they report. Runs on a "
        "fresh temporary device only: the accessories end with the demo, so a pairing kept on a "
        "device of yours would point at nothing; refused with --device (or GLIMMORA_DEVICE)");
    command->add_flag("--settings", options->settingsPage,
                      "Also serve the device's settings page while the demo runs, as `glimmora settings` does, and "
                      "print its address (on 127.0.0.1, any free port) to open in a browser on this machine; with "
                      "--hap it is inside the demo's own network, out of a browser's reach");
    command->callback([options, live, size, frameRate, frameRateOption] {
        if (const char* chosen = std::getenv("GLIMMORA_DEVICE"); options->realAccessories && chosen && *chosen)
            throw CLI::ValidationError(
                "--hap",
                "the test accessories end with the demo, so it pairs them only into a fresh temporary "
                "device, which it removes at the end; leave out --device (and GLIMMORA_DEVICE)");
        if (!live->empty()) {
            const std::optional<double> rate = frameRateOption->count() ? std::optional(*frameRate) : std::nullopt;
            if (device::StatusOr<LiveSourceRequest> parsed = parseLiveSource(*live, *size, "", rate); !parsed.ok())
                throw CLI::ValidationError("--live", parsed.status().message());
            options->live = {"--live", *live};
            if (!size->empty()) options->live.insert(options->live.end(), {"--size", *size});
            if (rate) options->live.insert(options->live.end(), {"--framerate", std::to_string(*rate)});
        }
        // Ended, and so cleaned up, before exit, which would not unwind it.
        int status = DemoSession(*options).run();
        std::cout.flush();
        std::exit(status);
    });
}
