// The frame origin: when the frame that the current work serves entered its process, carried
// along with that work so that the end of the chain can tell how long the whole road took.
//
// A video app sets it when a frame enters (a display-link tick, a sample handed to a display
// layer); the messaging library puts it into every call it sends and sets it again, in the
// receiving process, while the call is delivered; the dispatch queues carry it from the thread
// that submits a block to the thread that runs it, as libdispatch carries its vouchers; HomeKit
// reads it when a write is issued. It lives on the calling thread, so any thread may use it.
#pragma once

#include <cstdint>

namespace device {

enum class CallKind : uint8_t { none = 0, fireAndForget = 1, acknowledged = 2 };

struct FrameOrigin {
    uint64_t nanos = 0;                  // CLOCK_MONOTONIC, the same clock in every process; 0: none
    CallKind callKind = CallKind::none;  // how the frame's colour crossed the channel, once it has
};

// CLOCK_MONOTONIC in nanoseconds: comparable between the processes of one machine.
uint64_t monotonicNanos();

// The origin of the work on this thread; {} when none is set.
FrameOrigin currentFrameOrigin();

// Says that the work under way on this thread serves an earlier frame than the one its scope set:
// a picture drawn at a display-link tick that entered its process before the tick. Takes `origin`
// when it is earlier than the current origin; nothing changes outside a scope (no origin set). The
// enclosing scope restores the previous origin as usual.
void adoptEarlierFrameOrigin(FrameOrigin origin);

// Sets this thread's origin for the life of the scope and restores the previous one after it.
class FrameOriginScope {
public:
    explicit FrameOriginScope(FrameOrigin origin);
    ~FrameOriginScope();
    FrameOriginScope(const FrameOriginScope&) = delete;
    FrameOriginScope& operator=(const FrameOriginScope&) = delete;

private:
    FrameOrigin previous_;
};

}  // namespace device
