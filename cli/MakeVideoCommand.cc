// `glimmora make-video OUT`: writes the built-in video, the one the demo plays.
#include <iostream>

#include <apps/DemoVideo.h>

#include "Commands.h"

void addMakeVideoCommand(CLI::App& app) {
    auto path = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand(
        "make-video",
        "Write the built-in video to OUT: 12 s, 640x360, 30 fps MPEG-4 (libavcodec's own encoder) of "
        "hue sweeps, cuts, black and white frames, a fade and pastels, ending on a steady orange; the "
        "same every time");
    command->add_option("OUT", *path, "Where to write it (an .mp4 file; replaced if it exists)")->required();
    command->callback([path] {
        if (device::Status written = device::writeDemoVideo(*path); !written.ok()) {
            std::cerr << "glimmora make-video: " << written.message() << std::endl;
            throw CLI::RuntimeError(1);
        }
        std::cout << "Wrote the built-in video to " << *path << std::endl;
    });
}
