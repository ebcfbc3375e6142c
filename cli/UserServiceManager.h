// The user's systemd service manager, reached with `systemctl --user`. Any thread.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <base/Status.h>

#include "RunProgram.h"

// OK when a user service manager answers; otherwise why none does (no systemctl, no session bus or
// private socket in XDG_RUNTIME_DIR, a manager that is offline), for the user to read.
device::Status checkUserManager();

// Runs `systemctl --user ARGUMENTS...`.
ProgramOutput systemctlUser(const std::vector<std::string>& arguments);

// The loaded units whose names match `pattern` ("glimmora-follow@*.service"), in systemctl's order.
std::vector<std::string> loadedUnits(const std::string& pattern);

// What the manager knows of `unit`: LoadState ("not-found" for a unit without a file), ActiveState, SubState,
// UnitFileState, MainPID, NRestarts, Result, by name; empty when systemctl fails.
std::map<std::string, std::string> unitProperties(const std::string& unit);
