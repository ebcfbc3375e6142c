#include <cstdlib>
#include <iostream>
#include <map>

#include <apps/VideoApp.h>

#include "Commands.h"

void addPlayCommand(CLI::App& app) {
    auto options = std::make_shared<device::VideoAppOptions>();
    auto appName = std::make_shared<std::string>("safari");
    struct Live {
        std::string source, size, inputSize;
        double frameRate = 0;
        bool forgetScreen = false;
    };
    auto live = std::make_shared<Live>();
    CLI::App* command = app.add_subcommand(
        "play",
        "Play a video file, or show a live source, in a video app's full-screen player until it ends (or "
        "SIGINT/SIGTERM): the app process loads libglimmora.so, which sends the colours of the frames to the "
        "home screen");
    CLI::Option* video =
        command->add_option("VIDEO", options->videoPath, "The video file (anything FFmpeg reads: MP4, MKV, ...)")
            ->check(CLI::ExistingFile);
    CLI::Option* liveOption =
        command
            ->add_option("--live", live->source,
                         "Show a live source instead of a file, each frame as it is captured: x11:DISPLAY[+X,Y] (an X "
                         "screen of this machine, e.g. :0, or the region of it at X,Y; see --size), "
                         "v4l2:PATH (a capture device, e.g. /dev/video0), lavfi:GRAPH (a libavfilter source, e.g. "
                         "\"color=c=red:s=320x240:r=30\"), portal[:monitor|:window] (a Wayland desktop's screen or "
                         "one window, shared through the desktop's ScreenCast portal: its dialog asks once, later runs "
                         "share the same silently), pipewire:NODE (a PipeWire video node, by id or node.name). Runs "
                         "until SIGINT/SIGTERM or the source ends; exit status 2 when the source goes away (a lost X "
                         "server, a closed screen-cast session)")
            ->excludes(video);
    command->add_option("--size", live->size, "x11: the size WxH of the screen region to follow (default: the screen)")
        ->needs(liveOption);
    command->add_option("--input-size", live->inputSize, "v4l2: the picture size WxH to ask the device for")
        ->needs(liveOption);
    CLI::Option* frameRate =
        command
            ->add_option("--framerate", live->frameRate,
                         "x11, v4l2: frames per second to grab, 0.1 to 1000 (x11 default 29.97); at least one frame "
                         "every 10 s, or the lights would keep the colour of a picture long gone. portal, pipewire: "
                         "the most frames a second to take; a Wayland screen sends a frame only when it changes")
            ->needs(liveOption);
    command
        ->add_flag("--forget-screen", live->forgetScreen,
                   "portal: forget the screen or window shared before, so that the desktop's dialog asks again")
        ->needs(liveOption);
    command
        ->add_option("--app", *appName,
                     "The app that plays it: safari (com.apple.mobilesafari) or youtube (com.google.ios.youtube, "
                     "which the library serves only while the \"Youtube\" setting is on)")
        ->check(CLI::IsMember({"safari", "youtube"}))
        ->capture_default_str();
    command
        ->add_flag("--inline", options->inlinePlayback,
                   "Play inside the page instead of in the full-screen player: only the video samples are captured "
                   "(the library's decoder), not the player view")
        ->excludes(liveOption);
    command
        ->add_flag("--player-layer", options->playerLayer,
                   "Show the video as a player layer (AVPlayerLayer) does: the pictures reach the full-screen "
                   "player's view without passing through enqueueSampleBuffer:, so only the player view is "
                   "captured (the frame clock), not the video samples")
        ->excludes("--inline")
        ->excludes(liveOption);
    command->callback([options, appName, live, frameRate] {
        static const std::map<std::string, std::string> bundles = {{"safari", "com.apple.mobilesafari"},
                                                                   {"youtube", "com.google.ios.youtube"}};
        options->bundleIdentifier = bundles.at(*appName);
        if (!live->source.empty()) {
            device::StatusOr<LiveSourceRequest> parsed =
                parseLiveSource(live->source, live->size, live->inputSize,
                                frameRate->count() ? std::optional(live->frameRate) : std::nullopt);
            if (!parsed.ok()) throw CLI::ValidationError("--live", parsed.status().message());
            if (live->forgetScreen && parsed->kind != LiveSourceRequest::Kind::portal)
                throw CLI::ValidationError("--forget-screen", "applies only to portal sources");
            parsed->forgetScreen = live->forgetScreen;
            options->live = *std::move(parsed);
        } else if (options->videoPath.empty()) {
            throw CLI::RequiredError("VIDEO or --live");
        }
        int status = device::runVideoApp(*options, std::cerr);
        std::cerr.flush();
        std::cout.flush();
        // The library's threads may still be serving; static destructors must not run under them.
        std::_Exit(status);
    });
}
