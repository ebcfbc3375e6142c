#include "Commands.h"

void addAppCommand(CLI::App&) {}
