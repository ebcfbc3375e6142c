// The demo's and the live view's stop request: SIGINT, SIGTERM and SIGHUP set a flag that their
// loops read, and interrupt their sleeps, so that they can stop what they started cleanly.
#pragma once

// Installs the handlers (once). Main thread only.
void catchStopSignals();
// Whether a stop was asked for. Any thread.
bool stopRequested();
// Sleeps for `milliseconds` or until a stop is asked for.
void sleepUnlessStopped(int milliseconds);
