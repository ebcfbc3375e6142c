#include "FrameOrigin.h"

#include <ctime>

namespace device {

namespace {
thread_local FrameOrigin current;
}  // namespace

uint64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

FrameOrigin currentFrameOrigin() { return current; }

void adoptEarlierFrameOrigin(FrameOrigin origin) {
    if (current.nanos != 0 && origin.nanos != 0 && origin.nanos < current.nanos) current = origin;
}

FrameOriginScope::FrameOriginScope(FrameOrigin origin) : previous_(current) { current = origin; }

FrameOriginScope::~FrameOriginScope() { current = previous_; }

}  // namespace device
