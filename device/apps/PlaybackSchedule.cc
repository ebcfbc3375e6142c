#include "PlaybackSchedule.h"

#include <algorithm>
#include <cmath>

namespace {

// Seconds of a valid, finite time; NaN otherwise.
double secondsOf(CMTime time) {
    if (!CMTIME_IS_VALID(time)) return NAN;
    const double seconds = CMTimeGetSeconds(time);
    return std::isfinite(seconds) ? seconds : NAN;
}

}  // namespace

PlaybackSchedule::PlaybackSchedule(double frameRate)
    : frameInterval_(frameRate >= 1.0 / 1000 && frameRate <= 1000 ? 1.0 / frameRate : 1.0 / 30) {}

void PlaybackSchedule::anchor(double due, double streamTime) {
    anchored_ = true;
    anchorDue_ = due;
    anchorStream_ = streamTime;
    highest_ = streamTime;
}

double PlaybackSchedule::dueTime(const CMSampleTimingInfo& timing) {
    const double duration = secondsOf(timing.duration);
    const double interval = duration > 0 && duration <= kMaxForwardJump ? duration : frameInterval_;
    const double decodeTime = secondsOf(timing.decodeTimeStamp);
    const bool byPresentation = std::isnan(decodeTime);
    const double streamTime = byPresentation ? secondsOf(timing.presentationTimeStamp) : decodeTime;

    double due;
    if (!started_) {
        started_ = true;
        due = 0;
        if (!std::isnan(streamTime)) anchor(due, streamTime);
    } else {
        const double next = lastDue_ + lastInterval_;  // one frame on, where the timestamps fail
        const double ahead = streamTime - highest_;
        if (std::isnan(streamTime)) {
            due = next;
            anchored_ = false;  // the next timestamp is picked up from here
        } else if (!anchored_) {
            due = next;
            anchor(due, streamTime);
        } else if (ahead >= 0 && (ahead <= kMaxForwardJump || ahead <= lastInterval_ * 1.5)) {
            due = anchorDue_ + (streamTime - anchorStream_);
            highest_ = streamTime;
        } else if (ahead < 0 && -ahead <= kMaxReorder) {
            // A reordered frame timed by its presentation, or a decode time after a sample that had
            // only a presentation time (Matroska gives both kinds): due with the one before it.
            due = lastDue_;
        } else {
            due = next;
            anchor(due, streamTime);
        }
    }
    due = std::max(due, lastDue_);
    lastDue_ = due;
    lastInterval_ = interval;
    return due;
}

CMSampleTimingInfo sampleTiming(CMSampleBufferRef sample) {
    return {CMSampleBufferGetDuration(sample), CMSampleBufferGetPresentationTimeStamp(sample),
            CMSampleBufferGetDecodeTimeStamp(sample)};
}
