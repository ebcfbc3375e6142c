// SpringBoard: the home screen's application class. It exists only in the home-screen process.
#pragma once

#include "../UIKit/UIResponder.h"

class SpringBoard : public UIApplication {
public:
    static Class objcClass();
};
