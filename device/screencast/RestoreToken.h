// The restore token of a screen share, kept in a file of its own (mode 0600) so that the next
// share of the same source asks no question. A token is a capability to read the screen without
// asking: only its user may read it.
#pragma once

#include <string>

#include "../base/Status.h"

// The token kept at `path`; "" when there is none or it cannot be read (the user is then asked).
std::string readRestoreToken(const std::string& path);
// Replaces the token at `path` with `token` (atomically, mode 0600). An error says why not.
device::Status keepRestoreToken(const std::string& path, const std::string& token);
// Removes the token at `path`; ok when there was none.
device::Status forgetRestoreToken(const std::string& path);
