// The device directory: where everything of one simulated device lives (the settings database,
// the home, the messaging sockets, the system log). Device only; the system never sees it.
#pragma once

#include <string>

namespace device {

// The directory from GLIMMORA_DEVICE, else "$XDG_DATA_HOME/glimmora/device", else
// "$HOME/.local/share/glimmora/device". Any thread.
std::string deviceDirectory();

// Creates `path` and its missing parents with mode 0700 and makes sure `path` itself is 0700 and
// owned by this user. Returns an empty string on success, else what went wrong.
std::string ensurePrivateDirectory(const std::string& path);

// Makes the file at `path` private to this user (0600), whatever the process's umask: creates it
// empty when missing and `create` is set, and narrows the mode of one that is there and is this
// user's. A missing file without `create` is left missing. Returns an empty string on success,
// else what went wrong.
std::string ensurePrivateFile(const std::string& path, bool create);

}  // namespace device
