// The device directory: where everything of one simulated device lives (the settings database,
// the home, the messaging sockets, the system log). Device only; the system never sees it.
#pragma once

#include <string>

#include "../base/Status.h"

namespace device {

// The directory from GLIMMORA_DEVICE, else "$XDG_DATA_HOME/glimmora/device", else
// "$HOME/.local/share/glimmora/device". Any thread.
std::string deviceDirectory();

// Makes sure `path` can hold the device's sockets and settings; an error says what went wrong
// (nothing is changed then).
//
// The device directory (deviceDirectory(), or `path` itself when it lies elsewhere) is created
// 0700 with its missing parents when missing. One that is there is never changed: it must be a
// directory of this user that no other user can write to (one that others may only read is used
// as it is, since everything the device puts there is private), else it is refused with its mode.
// The directories below it up to `path` (ipc/, activity/) are the device's own: made 0700 when
// missing, narrowed to 0700 when there, and refused when they are not real directories of this user.
Status ensurePrivateDirectory(const std::string& path);

// Ok when the device directory `path` is missing (ensurePrivateDirectory makes it private) or is one
// ensurePrivateDirectory would use; else the same refusal, e.g. of a directory others can write to.
// Changes nothing: for a command to refuse a device before it does anything.
Status checkDeviceDirectory(const std::string& path);

// Makes the file at `path` private to this user (0600), whatever the process's umask: creates it
// empty when missing and `create` is set, and narrows the mode of one that is there and is this
// user's. A symbolic link is never followed: it is refused and it and its target are left as they
// are. A missing file without `create` is left missing; on a read-only file system, where nothing
// can be changed, the mode is left as it is. An error says what went wrong.
Status ensurePrivateFile(const std::string& path, bool create);

// Ok when the directory `path` can be written by this process or is missing; else an error saying
// why not, e.g. "the file system holding <path> is read-only".
Status checkWritable(const std::string& path);

}  // namespace device
