// The settings store: the settings library and the store's identifier and keys.
#pragma once

#include <HBPreferences/HBPreferences.h>

inline NSString* glimmoraSettingsIdentifier() { return NSSTR("com.tovek.glimmora"); }

// The master switch, read once when the library loads.
inline NSString* enabledKey() { return NSSTR("Enabled"); }
// Pauses and resumes capture at once; read on every frame.
inline NSString* activeKey() { return NSSTR("Active"); }
// Admits the YouTube app, read once when the library loads.
inline NSString* youtubeKey() { return NSSTR("Youtube"); }
