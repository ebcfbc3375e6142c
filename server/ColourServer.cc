#include "ColourServer.h"

namespace colourServer {

IMP previousApplicationDidFinishLaunching = nullptr;

void applicationDidFinishLaunching(id self, SEL _cmd, id application) {
    reinterpret_cast<void (*)(id, SEL, id)>(previousApplicationDidFinishLaunching)(self, _cmd, application);
}

void updateColors(id, SEL, id) {}

}  // namespace colourServer
