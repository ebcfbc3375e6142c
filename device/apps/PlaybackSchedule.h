// PlaybackSchedule: where each sample of a video stream falls on the playback clock, the seconds
// since playback started, so that a player can hand each sample on when it is due.
//
// Samples are given in decode order. A sample is timed by its decode timestamp, which rises
// steadily in that order (its presentation timestamp when it has none): the first sample is due at
// 0, each later one as far after it as its timestamp says. Where the timestamps cannot be
// followed, the sample is due one frame after the one before it (that one's duration, else one
// frame at the stream's frame rate) and the stream's time is picked up again from there:
// - a sample without timestamps (a raw H.264 stream has none);
// - a timestamp that goes backwards by more than kMaxReorder (concatenated transport streams
//   start again at their own start); a smaller step back (a reordered frame timed by its
//   presentation) is due at once;
// - a timestamp more than kMaxForwardJump ahead of the stream's time that the previous sample's
//   duration does not account for (a broken or spliced stream would otherwise stall playback).
// Due times never go backwards.
//
// Plain value type; not thread-safe.
#pragma once

#include "../CoreMedia/CMSampleBuffer.h"

class PlaybackSchedule {
public:
    // A forward step in the timestamps beyond which the stream is taken as cut and joined again.
    static constexpr double kMaxForwardJump = 10.0;
    // How far a timestamp may fall back and still be a reordered frame rather than a new start.
    static constexpr double kMaxReorder = 0.5;

    // `frameRate`: the stream's frames per second; a rate that is not a number or is out of
    // 1/1000 ... 1000 (0: unknown) means 30.
    explicit PlaybackSchedule(double frameRate);

    // The due time, in seconds from the start of playback, of the next sample in decode order.
    double dueTime(const CMSampleTimingInfo& timing);

private:
    void anchor(double due, double streamTime);

    double frameInterval_;
    bool started_ = false;
    bool anchored_ = false;  // anchorStream_ is the stream's time at anchorDue_
    double anchorDue_ = 0;
    double anchorStream_ = 0;
    double highest_ = 0;  // the latest stream time since the anchor
    double lastDue_ = 0;
    double lastInterval_ = 0;  // the previous sample's duration
};

// The timing of `sample` (every time invalid for null).
CMSampleTimingInfo sampleTiming(CMSampleBufferRef sample);
