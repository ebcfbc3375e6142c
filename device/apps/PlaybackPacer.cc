#include "PlaybackPacer.h"

#include <limits>

#include "PlaybackSchedule.h"

PacedPlayback pacePlayback(const std::function<SampleBufferHolder()>& next, double frameRate, PlaybackClock& clock,
                           const std::function<void(CMSampleBufferRef sample, bool show)>& present) {
    PacedPlayback result;
    PlaybackSchedule schedule(frameRate);
    SampleBufferHolder current = next();
    double due = current ? schedule.dueTime(sampleTiming(current.get())) : 0;
    while (current) {
        if (!clock.waitUntil(due)) {
            result.stopped = true;
            break;
        }
        // One sample ahead: a sample whose successor is due already has missed its turn.
        SampleBufferHolder following = next();
        const double followingDue =
            following ? schedule.dueTime(sampleTiming(following.get())) : std::numeric_limits<double>::infinity();
        // A successor due at the same time (a reordered frame) does not take this one's turn.
        const bool show = followingDue <= due || clock.now() < followingDue;
        present(current.get(), show);
        ++result.samples;
        if (!show) ++result.late;
        result.end = due;
        current = std::move(following);
        due = followingDue;
    }
    return result;
}
