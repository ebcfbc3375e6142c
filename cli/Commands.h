// The `glimmora` command's subcommands; each file adds one to the application.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

// `glimmora app BUNDLE_ID [--describe]`: a simulated process.
void addAppCommand(CLI::App& app);
// `glimmora springboard`: the home-screen process.
void addSpringBoardCommand(CLI::App& app);
// `glimmora prefs read|write|delete IDENTIFIER [KEY [VALUE]]`: the settings tool.
void addPrefsCommand(CLI::App& app);
// `glimmora home init|load|show|select|deselect`: the device's homes.
void addHomeCommand(CLI::App& app);
// What `home init [--force]` and `home select|deselect ROOM...` do, for the demo. On failure they
// say why on standard error and throw CLI::RuntimeError(1).
void installExampleHome(bool force);
void setRoomsSelected(const std::vector<std::string>& rooms, bool selected);
// `glimmora demo [VIDEO]`: the whole chain on the built-in home and video, with the live view.
void addDemoCommand(CLI::App& app);
// `glimmora lights`: the live light view.
void addLightsCommand(CLI::App& app);
// `glimmora make-video OUT`: writes the built-in video.
void addMakeVideoCommand(CLI::App& app);
// `glimmora play VIDEO [--app safari|youtube]`: a video app playing a file.
void addPlayCommand(CLI::App& app);
