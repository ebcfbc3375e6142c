// QuartzCore's time base: seconds on the monotonic clock that run loops and display links use.
#pragma once

typedef double CFTimeInterval;

// The current time in seconds on the monotonic clock (the run loop's clock); only differences
// between two readings mean anything. Any thread.
CFTimeInterval CACurrentMediaTime();
