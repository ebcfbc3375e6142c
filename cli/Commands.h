// The `glimmora` command's subcommands; each file adds one to the application.
#pragma once

#include <CLI/CLI.hpp>

// `glimmora app BUNDLE_ID [--describe]`: a simulated process.
void addAppCommand(CLI::App& app);
// `glimmora springboard`: the home-screen process.
void addSpringBoardCommand(CLI::App& app);
// `glimmora prefs read|write|delete IDENTIFIER [KEY [VALUE]]`: the settings tool.
void addPrefsCommand(CLI::App& app);
void addHomeCommand(CLI::App& app);
// `glimmora play VIDEO [--app safari|youtube]`: a video app playing a file.
void addPlayCommand(CLI::App& app);
