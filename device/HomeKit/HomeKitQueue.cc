#include "HomeKitQueue.h"

dispatch_queue_t homeKitQueue() {
    // Leaked on purpose: a queue's last release drops its delayed blocks, and pending writes must
    // still complete.
    static DispatchQueue* queue =
        dispatch_queue_create("com.apple.homekit.accessories", DISPATCH_QUEUE_SERIAL).detach();
    return queue;
}
