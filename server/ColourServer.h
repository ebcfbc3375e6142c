// The colour server in the home-screen process: the launch hook and the colour message handler.
#pragma once

#include <objc/runtime.h>

namespace colourServer {

extern IMP previousApplicationDidFinishLaunching;

void applicationDidFinishLaunching(id self, SEL _cmd, id application);
// Receives one colour message.
void updateColors(id self, SEL _cmd, id message);

}  // namespace colourServer
