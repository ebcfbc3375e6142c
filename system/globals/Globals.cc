#include "Globals.h"

#include <Foundation/NSThread.h>

HBPreferences* preferences = nullptr;
BOOL readyForUpdates = YES;
HomeManager* homeManager = nullptr;

void runOnMainQueueWithoutDeadlocking(dispatch_block_t block) {
    Strong<Block<void()>> held(block);
    if (NSThread::isMainThread()) {
        (*held)();
    } else {
        dispatch_sync(dispatch_get_main_queue(), held);
    }
}
