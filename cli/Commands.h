// The `glimmora` command's subcommands; each file named after one adds it to the application.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

// `glimmora app [BUNDLE_ID] [--describe]`: a simulated process, until SIGINT or SIGTERM.
void addAppCommand(CLI::App& app);
// `glimmora springboard`: the home-screen process (both in AppCommand.cc).
void addSpringBoardCommand(CLI::App& app);
// `glimmora prefs read|delete IDENTIFIER [KEY]` and
// `glimmora prefs write IDENTIFIER KEY [VALUE...] [--bool|--int|--real|--string|--array]`: the settings tool.
void addPrefsCommand(CLI::App& app);
// `glimmora home init [--force] | load FILE | show [--json] | select|deselect ROOM... |
// pair NAME --room --address --port --code [--home] | unpair NAME [--forget]`: the device's homes
// and the real accessories paired into them.
void addHomeCommand(CLI::App& app);
// What `home init [--force]` and `home select|deselect ROOM...` do, for the demo. On failure they
// say why on standard error and throw CLI::RuntimeError(1).
void installExampleHome(bool force);
void setRoomsSelected(const std::vector<std::string>& rooms, bool selected);
// `glimmora demo [VIDEO | --live SOURCE [--size] [--framerate]] [--app safari|youtube] [--hap]`:
// the whole chain on a temporary device (or the chosen one; one without a home gets the built-in
// home), playing the built-in video (or VIDEO, or following a live source), with the live view
// and a summary at the end; --hap adds two test accessories on loopback.
void addDemoCommand(CLI::App& app);
// `glimmora lights`: the live light view, until Ctrl-C.
void addLightsCommand(CLI::App& app);
// `glimmora make-video OUT`: writes the built-in video.
void addMakeVideoCommand(CLI::App& app);
// `glimmora play VIDEO [--inline | --player-layer] | --live SOURCE [--size] [--input-size] [--framerate]`
// `[--app safari|youtube]`: a video app playing a file or showing a live source.
void addPlayCommand(CLI::App& app);
// `glimmora settings [--port P] [--listen ADDR]`: the settings page, until SIGINT or SIGTERM.
void addSettingsCommand(CLI::App& app);
// `glimmora service install [--follow SOURCE]... | remove | status | print UNIT`: Glimmora as the
// user's systemd services.
void addServiceCommand(CLI::App& app);
