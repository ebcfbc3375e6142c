// The built-in example home that `glimmora home init` installs. Device only.
#pragma once

#include <string>

// The text of a home description with two homes (the first primary): colour lights with full
// metadata, one without metadata, a lamp with two lightbulb services, a colour-temperature lamp,
// a slow light, a fan, an outlet, a switch, and a room without lights. It gives no uuids, so its
// identifiers are derived and the same on every device. Any thread.
std::string exampleHomeDescription();
