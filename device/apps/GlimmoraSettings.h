// The settings store the library reads ("Enabled", "Active", "Youtube" and one switch per room),
// as the device's own tools open it: the settings interface (`glimmora home select`), the demo and
// the light view.
#pragma once

#include "../HBPreferences/HBPreferences.h"

#include "GlimmoraContract.h"

namespace device {

inline Strong<HBPreferences> openGlimmoraSettings() {
    return Strong<HBPreferences>::adopt(HBPreferences::alloc()->initWithIdentifier(NSSTR(kGlimmoraSettingsIdentifier)));
}

}  // namespace device
