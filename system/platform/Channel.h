// The colour channel: the messaging library and the names both ends of the channel agree on.
#pragma once

#include <MRYIPC/MRYIPCCenter.h>

// The channel between the video apps and the home-screen process.
inline NSString* glimmoraServerName() { return NSSTR("com.tovek.glimmoraserver"); }

// The server method that receives one colour message.
inline SEL updateColorsSelector() { return SEL_(_updateColors:); }
