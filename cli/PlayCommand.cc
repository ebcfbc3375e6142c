#include <cstdlib>
#include <iostream>
#include <map>

#include <apps/VideoApp.h>

#include "Commands.h"

void addPlayCommand(CLI::App& app) {
    auto options = std::make_shared<device::VideoAppOptions>();
    auto appName = std::make_shared<std::string>("safari");
    CLI::App* command = app.add_subcommand(
        "play",
        "Play a video file in a video app's full-screen player until it ends (or SIGINT/SIGTERM): the app "
        "process loads libglimmora.so, which sends the colours of the frames to the home screen");
    command->add_option("VIDEO", options->videoPath, "The video file (anything FFmpeg reads: MP4, MKV, ...)")
        ->required()
        ->check(CLI::ExistingFile);
    command
        ->add_option("--app", *appName,
                     "The app that plays it: safari (com.apple.mobilesafari) or youtube (com.google.ios.youtube, "
                     "which the library serves only while the \"Youtube\" setting is on)")
        ->check(CLI::IsMember({"safari", "youtube"}))
        ->capture_default_str();
    command->add_flag("--inline", options->inlinePlayback,
                      "Play inside the page instead of in the full-screen player: only the video samples are captured "
                      "(the library's decoder), not the player view");
    command
        ->add_flag("--player-layer", options->playerLayer,
                   "Show the video as a player layer (AVPlayerLayer) does: the pictures reach the full-screen "
                   "player's view without passing through enqueueSampleBuffer:, so only the player view is "
                   "captured (the frame clock), not the video samples")
        ->excludes("--inline");
    command->callback([options, appName] {
        static const std::map<std::string, std::string> bundles = {{"safari", "com.apple.mobilesafari"},
                                                                   {"youtube", "com.google.ios.youtube"}};
        options->bundleIdentifier = bundles.at(*appName);
        int status = device::runVideoApp(*options, std::cerr);
        std::cerr.flush();
        std::cout.flush();
        // The library's threads may still be serving; static destructors must not run under them.
        std::_Exit(status);
    });
}
