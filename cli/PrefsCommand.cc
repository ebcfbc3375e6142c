#include "Commands.h"

void addPrefsCommand(CLI::App&) {}
