// `glimmora lights`: the live light view of a device, until Ctrl-C.
#include <unistd.h>
#include <iostream>

#include "Commands.h"
#include "DemoSignals.h"
#include "LightView.h"

void addLightsCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand(
        "lights",
        "Watch the device's lights live until Ctrl-C: a row per light with a swatch in its colour, its "
        "room, power, brightness, saturation and hue, and the last colour the home screen received. "
        "Without a terminal, prints a plain line when something changes (at most once a second)");
    command->callback([] {
        catchStopSignals();
        {
            LightView view(std::cout, isatty(STDOUT_FILENO) != 0, "Glimmora: the device's lights");
            while (!stopRequested()) {
                view.refresh("Ctrl-C ends");
                sleepUnlessStopped(150);
            }
        }
        std::cout << std::endl;
    });
}
