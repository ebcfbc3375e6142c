// The queue on which HomeKit does its work off the main thread: loading homes and completing
// characteristic writes. Device only.
#pragma once

#include "../dispatch/dispatch.h"

// The process's one serial HomeKit queue, made on first use and never released, so work queued on
// it always runs, even after the manager that queued it is gone. Never the main thread. Any thread.
dispatch_queue_t homeKitQueue();
