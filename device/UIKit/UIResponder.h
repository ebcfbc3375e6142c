// UIResponder, UIApplication and UIViewController: the application object and view controllers,
// as far as their run-time methods go. Appearance and launch calls are sent through the run-time,
// so hooks on them run.
#pragma once

#include "../objc/runtime.h"

class UIResponder : public NSObject {
public:
    static Class objcClass();
};

class UIApplication : public UIResponder {
public:
    static Class objcClass();
};

class UIViewController : public UIResponder {
public:
    static Class objcClass();
};
