// The lightbulbs of a real accessory, as the home description records them: from the services its
// accessory database lists, the lightbulb services with the characteristics that follow the video
// (On, Brightness, Saturation, Hue), each with the accessory's own format, limits and value.
#pragma once

#include <string>
#include <vector>

#include "../hap/AccessoryDatabase.h"
#include "../homes/HomeDescription.h"

namespace device {

// The lightbulb services of `services`, as home description entries: a single lamp's light takes
// `accessoryName`, a bridge's lights keep their own names. Empty when it has no lightbulb.
std::vector<ServiceDescription> lightbulbEntries(const std::vector<hap::ServiceInfo>& services,
                                                 const std::string& accessoryName);

}  // namespace device
