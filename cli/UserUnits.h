// The systemd user units that run Glimmora as the user's services (their text is in cli/units/):
// the home screen, glimmora-springboard.service, and glimmora-follow@.service, whose instance names
// a live source the lights follow. Plain functions of their arguments and the environment.
#pragma once

#include <string>
#include <vector>

#include <base/StatusOr.h>

// One unit's text, with "{command}" where the `glimmora` command's path goes.
struct UnitTemplate {
    const char* name;
    const char* text;
};
// Every unit, the home screen first (written into the command by cli/CMakeLists.txt).
const std::vector<UnitTemplate>& unitTemplates();

inline constexpr char kHomeScreenUnit[] = "glimmora-springboard.service";
inline constexpr char kFollowTemplate[] = "glimmora-follow@.service";

// The unit's text with ExecStart naming `command`, an absolute path, quoted and escaped as systemd
// reads a command line.
std::string unitTextFor(const UnitTemplate& unit, const std::string& command);

// Where the user's own units go: $XDG_CONFIG_HOME/systemd/user, else ~/.config/systemd/user; an
// error when neither variable is set.
device::StatusOr<std::string> userUnitDirectory();

// "glimmora-follow@INSTANCE.service" for the live source `source` ("x11::0", "v4l2:/dev/video0"),
// its instance escaped by systemd-escape as systemd escapes unit names, so that %I in the unit gives
// `source` back; an error when the source is not one `play --live` takes, or systemd-escape fails.
device::StatusOr<std::string> followUnitFor(const std::string& source);

// Whether `name` is an instance of the follow template ("glimmora-follow@x11::0.service").
bool isFollowInstance(const std::string& name);

// `text` as one word for a POSIX shell: unchanged when it holds only safe characters, else in
// single quotes.
std::string shellWord(const std::string& text);
