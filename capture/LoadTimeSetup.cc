// The library's constructor: opens the settings, registers their defaults and, in a host process
// with the system enabled, installs the hook table.
#include <cstring>

#include <Foundation/Foundation.h>

#include "Globals.h"
#include "HookTable.h"

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
