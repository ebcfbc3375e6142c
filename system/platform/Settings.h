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
// The catalogue the home screen publishes for the settings interface: one entry per home, and one
// per room of every home. A room's own switch is keyed by the room's identifier text.
inline NSString* homesKey() { return NSSTR("Homes"); }
inline NSString* roomsKey() { return NSSTR("Rooms"); }
