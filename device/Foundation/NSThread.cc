#include "NSThread.h"

#include <sys/syscall.h>
#include <unistd.h>

BOOL NSThread::isMainThread() {
    // On Linux the thread a process starts on has the process's id as its thread id.
    static thread_local const bool isMain = syscall(SYS_gettid) == getpid();
    return isMain;
}
