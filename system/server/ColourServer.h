// The colour server in the home-screen process: the launch hook and the colour message handler.
#pragma once

#include <objc/runtime.h>

class UIColor;

namespace colourServer {

extern IMP previousApplicationDidFinishLaunching;

// Calls through, makes the shared light controller and serves the colour channel.
void applicationDidFinishLaunching(id self, SEL _cmd, id application);
// Receives one colour message (any thread) and hands its colour to the light controller on the
// main queue, returning when the controller has handled it.
void updateColors(id self, SEL _cmd, id message);

// The colour of a colour message: four fields read as 32-bit floats, without clamping. nil gives
// red, green, blue and alpha 0; a value that is not text, or text of fewer than four fields, gives nil.
Strong<UIColor> colourFromMessage(id message);

}  // namespace colourServer
