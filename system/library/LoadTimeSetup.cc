// The library's constructor: registers the library's own class, opens the settings, registers their
// defaults and, in a host process with the system enabled, installs the hook table.
#include <cstring>

#include <Foundation/Foundation.h>

#include "HookTable.h"
#include "globals/Globals.h"
#include "home/HomeManager.h"

namespace {

// Bound to "Enabled" and "Youtube" when the library loads; read only here, so a change takes
// effect when the process next starts.
BOOL enabled = NO;
BOOL youtubeEnabled = NO;

bool equals(NSString* identifier, const char* text) {
    return identifier != nil && std::strcmp(identifier->UTF8String(), text) == 0;
}

bool isHost(NSString* bundleIdentifier) {
    return equals(bundleIdentifier, "com.apple.springboard") ||
           (equals(bundleIdentifier, "com.google.ios.youtube") && youtubeEnabled) ||
           equals(bundleIdentifier, "com.apple.mobilesafari");
}

__attribute__((constructor)) void loadGlimmora() {
    // A class the library defines is known to the run-time as soon as the library is loaded, in
    // every process, whatever the settings and the host.
    HomeManager::objcClass();

    HBPreferences* store = HBPreferences::alloc()->initWithIdentifier(glimmoraSettingsIdentifier());
    objc_release(preferences);
    preferences = store;

    preferences->registerDefaults(NSDictionary::dictionaryWithEntries({
        {enabledKey(), NSNumber::numberWithBool(YES)},
        {activeKey(), NSNumber::numberWithBool(YES)},
        {youtubeKey(), NSNumber::numberWithBool(NO)},
    }));
    preferences->registerBool_default_forKey(&enabled, YES, enabledKey());
    preferences->registerBool_default_forKey(&youtubeEnabled, NO, youtubeKey());

    if (!enabled) return;
    if (!isHost(NSBundle::mainBundle()->bundleIdentifier())) return;
    installHookTable();
}

}  // namespace
