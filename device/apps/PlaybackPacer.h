// Pacing a video's samples as a player does: each sample is handed on when it is due on the
// playback clock (PlaybackSchedule), and a sample the player reaches only after the next one is
// already due is handed on marked not to be shown: it is still decoded, since later pictures may
// need it, but its picture would come too late to be worth showing. Playback thus keeps to the
// video's real times however slowly pictures are shown, at the cost of the pictures it drops.
//
// The clock is an interface so that the pacing can be followed without waiting; everything runs
// on the calling thread.
#pragma once

#include <functional>

#include "../CoreMedia/CMSampleBuffer.h"
#include "../CoreMedia/CoreMediaDevice.h"

class PlaybackClock {
public:
    virtual ~PlaybackClock() = default;
    // Seconds since playback started.
    virtual double now() = 0;
    // Returns once now() has reached `seconds` (at once when it has); false when playback was
    // stopped meanwhile.
    virtual bool waitUntil(double seconds) = 0;
};

struct PacedPlayback {
    long samples = 0;      // handed on
    long late = 0;         // of those, marked not to be shown
    double end = 0;        // the due time of the last sample handed on
    bool stopped = false;  // the clock said stop before the samples ran out
};

// Takes samples from `next` (null at the end) until the end or a stop, and hands each to
// `present` when it is due, with `show` false for a sample that is too late to be shown. The last
// sample is always shown: nothing comes after it.
PacedPlayback pacePlayback(const std::function<SampleBufferHolder()>& next, double frameRate, PlaybackClock& clock,
                           const std::function<void(CMSampleBufferRef sample, bool show)>& present);
