// NSThread: which thread is the process's main thread.
#pragma once

#include "../objc/runtime.h"

class NSThread : public NSObject {
public:
    // YES on the process's main thread (the thread the process started on). Any thread.
    static BOOL isMainThread();
};
