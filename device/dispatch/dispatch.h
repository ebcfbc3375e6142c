// libdispatch: queues of blocks. The main queue is served by the main thread's run loop; other
// queues stand on a task runner with threads of its own. Every function may be called from any thread.
#pragma once

#include <cstdint>

#include "../objc/Block.h"
#include "../objc/runtime.h"

typedef Block<void()>* dispatch_block_t;
typedef uint64_t dispatch_time_t;
typedef long dispatch_once_t;
typedef const void* dispatch_queue_attr_t;

#define DISPATCH_TIME_NOW (0ull)
#define DISPATCH_TIME_FOREVER (~0ull)
#define DISPATCH_QUEUE_SERIAL nullptr
#define DISPATCH_QUEUE_PRIORITY_DEFAULT 0
constexpr uint64_t NSEC_PER_SEC = 1000000000ull;
constexpr uint64_t NSEC_PER_MSEC = 1000000ull;
constexpr uint64_t NSEC_PER_USEC = 1000ull;

// A queue of blocks, run one after another (the main queue, serial queues) or by several
// workers (the global queue).
class DispatchQueue : public NSObject {
public:
    static Class objcClass();
    // Runs `block` at `when` (a dispatch_time) or as soon as possible after it.
    virtual void enqueue(dispatch_block_t block, dispatch_time_t when) = 0;
    // YES when the calling thread is one of this queue's own.
    virtual BOOL isCurrent() const = 0;
};
typedef DispatchQueue* dispatch_queue_t;

// The queue whose blocks the main thread's run loop runs.
dispatch_queue_t dispatch_get_main_queue();
// A concurrent queue shared by the process.
dispatch_queue_t dispatch_get_global_queue(long identifier, unsigned long flags);
// A new serial queue with a thread of its own. Blocks whose time has come when the queue's last
// reference goes still run; later ones are dropped.
Strong<DispatchQueue> dispatch_queue_create(const char* label, dispatch_queue_attr_t attributes);

// `when` (DISPATCH_TIME_NOW for now) plus `delta` nanoseconds, on the monotonic clock.
dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);

void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);
void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block);
// Runs `block` on `queue` and waits until it has run. Calling it for the queue the caller is
// running on would wait for ever; that is reported and the process aborts.
void dispatch_sync(dispatch_queue_t queue, dispatch_block_t block);
// Runs `block` once per predicate (which starts at 0) in the life of the process; concurrent
// callers wait until the first has finished.
void dispatch_once(dispatch_once_t* predicate, dispatch_block_t block);
