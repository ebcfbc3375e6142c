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

// The store with the defaults the library registers when it loads ("Enabled" and "Active" on,
// "Youtube" off), so that a switch never written reads as the library would read it.
inline Strong<HBPreferences> openGlimmoraSettingsWithDefaults() {
    Strong<HBPreferences> settings = openGlimmoraSettings();
    settings->registerDefaults(
        NSDictionary::dictionaryWithEntries({{NSSTR(kEnabledKey), NSNumber::numberWithBool(YES)},
                                             {NSSTR(kActiveKey), NSNumber::numberWithBool(YES)},
                                             {NSSTR(kYoutubeKey), NSNumber::numberWithBool(NO)}}));
    return settings;
}

}  // namespace device
