// `glimmora settings [--port P] [--listen ADDR]`: the device's settings page, until SIGINT/SIGTERM.
#include <iostream>

#include <Foundation/DeviceDirectory.h>

#include "../Commands.h"
#include "../DemoSignals.h"
#include "SettingsServer.h"

void addSettingsCommand(CLI::App& app) {
    auto options = std::make_shared<SettingsServer::Options>();
    CLI::App* command = app.add_subcommand(
        "settings",
        "Serve the device's settings page until SIGINT or SIGTERM: the switches, the rooms to follow the video in, "
        "the lights live, and the HomeKit lamps on the network to pair or unpair. The first line printed is the "
        "page's address with its access token; open it in a browser on this machine. Everything else is refused");
    command->add_option("--port", options->port, "The TCP port (default 8437; 0 takes any free one)");
    command->add_option("--listen", options->listen,
                        "The IP address to serve on (default 127.0.0.1). Another than loopback lets that network "
                        "reach the page, unencrypted: the token is then all that guards it");
    command->callback([options] {
        catchStopSignals();
        if (!isLoopbackAddress(options->listen))
            std::cerr << "glimmora settings: warning: serving on " << options->listen
                      << ", not loopback: anyone on that network who sees the page's address, token included, can "
                         "change this device's settings and pair its lamps, and HTTP carries everything unencrypted\n";
        device::StatusOr<std::unique_ptr<SettingsServer>> server = SettingsServer::start(*options);
        if (!server.ok()) {
            std::cerr << "glimmora settings: " << server.status().message() << "\n";
            throw CLI::RuntimeError(1);
        }
        std::cout << (*server)->pageAddress() << std::endl;
        if (std::string problem = (*server)->discoveryProblem(); !problem.empty())
            std::cerr << "glimmora settings: the lamps on the network are not listed: " << problem << "\n";
        std::cerr << "glimmora settings: serving the settings page of the device in " << device::deviceDirectory()
                  << "; Ctrl-C ends\n";
        while (!stopRequested()) sleepUnlessStopped(1000);
        (*server)->stop();
    });
}
