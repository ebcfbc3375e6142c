// SpringBoard: the home screen's application class. It exists only in the home-screen process.
#pragma once

#include <UIKit/UIResponder.h>

// The channel on which the library's colour server, in the home screen, receives the colours.
inline constexpr const char* kColourChannelName = "com.tovek.glimmoraserver";

class SpringBoard : public UIApplication {
public:
    static Class objcClass();
};
