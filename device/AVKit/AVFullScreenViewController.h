// AVFullScreenViewController: the system's full-screen video player controller. It exists only in
// the video apps' processes (the process set-up registers it).
#pragma once

#include <UIKit/UIResponder.h>

class AVFullScreenViewController : public UIViewController {
public:
    static Class objcClass();
};
