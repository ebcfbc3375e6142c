// The video app's pacing: when each sample of a real file is due on the playback clock, what
// happens where timestamps are missing, reset or reordered, and which samples a player that falls
// behind marks as too late to show. A fake clock stands for time, so nothing here waits.
#include <cmath>
#include <fstream>

#include <gtest/gtest.h>

#include <apps/PlaybackPacer.h>
#include <apps/PlaybackSchedule.h>

#include "VideoToolboxSupport.h"

namespace {

using namespace vt_test;

// Time passes only when the player waits, or presents a sample.
class FakeClock : public PlaybackClock {
public:
    double now() override { return now_; }
    bool waitUntil(double seconds) override {
        if (now_ >= stopAt) return false;
        now_ = std::max(now_, seconds);
        return true;
    }
    void spend(double seconds) { now_ += seconds; }
    double stopAt = INFINITY;

private:
    double now_ = 0;
};

struct Presented {
    double at;
    bool show;
};

struct PacedClip {
    PacedPlayback result;
    std::vector<Presented> presented;
};

// Handing on a sample to be shown costs `showCost`, one that is not to be shown `decodeCost`.
PacedClip pace(const ClipSamples& clip, double frameRate, FakeClock& clock, double showCost = 0,
               double decodeCost = 0) {
    PacedClip paced;
    size_t index = 0;
    paced.result = pacePlayback(
        [&] { return index < clip.samples.size() ? clip.samples[index++] : SampleBufferHolder(); }, frameRate, clock,
        [&](CMSampleBufferRef, bool show) {
            paced.presented.push_back({clock.now(), show});
            clock.spend(show ? showCost : decodeCost);
        });
    return paced;
}

// Every sample goes one frame after the one before, none of them late.
void expectSteadyFrames(const PacedClip& paced, size_t count, double frame) {
    ASSERT_EQ(paced.presented.size(), count);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_NEAR(paced.presented[i].at, i * frame, 1e-6) << "sample " << i;
        EXPECT_TRUE(paced.presented[i].show) << "sample " << i;
    }
    EXPECT_EQ(paced.result.late, 0);
}

ClipSettings settingsAt(int fps, bool bframes = false) {
    return {.codec = ClipCodec::h264, .width = 32, .height = 16, .fps = fps, .gop = 10, .bframes = bframes};
}

TEST(PlaybackPacer, StreamsWithoutUsableTimestampsGoAtTheirFrameRate) {
    TempDirectory dir;
    {
        SCOPED_TRACE("a raw H.264 stream, which has no timestamps at all");
        const ClipSamples clip = readClip(writeClip(dir, "raw.h264", "red*15,blue*15", settingsAt(30)));
        FakeClock clock;
        expectSteadyFrames(pace(clip, 30, clock), 30, 1.0 / 30);
    }
    {
        SCOPED_TRACE("two transport streams end to end, the second starting its timestamps again");
        const std::string first = writeClip(dir, "first.ts", "red*20", settingsAt(25));
        const std::string second = writeClip(dir, "second.ts", "blue*20", settingsAt(25));
        const std::string joined = dir.path() + "/joined.ts";
        std::ofstream(joined, std::ios::binary)
            << std::ifstream(first, std::ios::binary).rdbuf() << std::ifstream(second, std::ios::binary).rdbuf();
        const ClipSamples clip = readClip(joined);
        FakeClock clock;
        expectSteadyFrames(pace(clip, 25, clock), 40, 1.0 / 25);
    }
    {
        SCOPED_TRACE("reordered frames, paced by their decode timestamps");
        const ClipSamples clip = readClip(writeClip(dir, "bframes.mp4", "red*12,blue*12", settingsAt(24, true)));
        FakeClock clock;
        expectSteadyFrames(pace(clip, 24, clock), 24, 1.0 / 24);
    }
    {
        SCOPED_TRACE("Matroska with reordered frames: some samples have a decode time, some only a presentation time");
        const ClipSamples clip = readClip(writeClip(dir, "bframes.mkv", "red*10,blue*10", settingsAt(25, true)));
        FakeClock clock;
        const PacedClip paced = pace(clip, 25, clock);
        ASSERT_EQ(paced.presented.size(), 20u);
        EXPECT_EQ(paced.result.late, 0) << "a frame due with the one before it is not too late";
        for (size_t i = 1; i < paced.presented.size(); ++i)
            EXPECT_LE(paced.presented[i].at - paced.presented[i - 1].at, 0.12 + 1e-9) << "sample " << i;
        EXPECT_NEAR(paced.result.end, 0.68, 0.05);  // the last decode time; no new start on the way
    }
}

TEST(PlaybackPacer, APlayerThatFallsBehindKeepsToTimeAndMarksWhatItIsTooLateToShow) {
    TempDirectory dir;
    const ClipSamples clip = readClip(writeClip(dir, "fast.mp4", "red*120,blue*120", settingsAt(240)));
    ASSERT_EQ(clip.samples.size(), 240u);
    // Showing a picture costs 10 ms, between two and three frames at 240 frames a second; decoding
    // one alone costs 1 ms.
    FakeClock clock;
    const PacedClip paced = pace(clip, 240, clock, 0.010, 0.001);

    ASSERT_EQ(paced.presented.size(), 240u) << "every sample is handed on, shown or not";
    EXPECT_NEAR(paced.result.end, 239.0 / 240, 1e-6);
    EXPECT_LT(clock.now(), 1.03) << "the second of video takes a second, not 2.4";
    long shown = 0;
    for (size_t i = 0; i < paced.presented.size(); ++i) {
        const double due = i / 240.0, nextDue = (i + 1) / 240.0;
        EXPECT_GE(paced.presented[i].at, due - 1e-9) << "sample " << i << " went early";
        // Shown exactly when it is handed on before its successor is due.
        if (i + 1 < paced.presented.size()) {
            EXPECT_EQ(paced.presented[i].show, paced.presented[i].at < nextDue - 1e-9) << "sample " << i;
        }
        shown += paced.presented[i].show;
    }
    EXPECT_TRUE(paced.presented.back().show) << "the last picture is always shown";
    EXPECT_EQ(paced.result.late, 240 - shown);
    EXPECT_GT(shown, 240 / 3 - 5);
    EXPECT_LT(shown, 240 / 2) << "a 10 ms picture cannot be shown every 4 ms";
}

TEST(PlaybackPacer, AStopEndsPacingBeforeTheNextSample) {
    TempDirectory dir;
    const ClipSamples clip = readClip(writeClip(dir, "clip.mp4", "red*20", settingsAt(20)));
    FakeClock clock;
    clock.stopAt = 0.5;
    const PacedClip paced = pace(clip, 20, clock);
    EXPECT_TRUE(paced.result.stopped);
    EXPECT_EQ(paced.presented.size(), 11u);  // 0 ... 0.5 s
}

CMSampleTimingInfo timing(double presentation, double decode = NAN, double duration = NAN) {
    auto time = [](double seconds) { return std::isnan(seconds) ? kCMTimeInvalid : CMTimeMake(seconds * 3000, 3000); };
    return {time(duration), time(presentation), time(decode)};
}

TEST(PlaybackSchedule, FollowsTheTimestampsAndStepsOneFrameWhereTheyFail) {
    PlaybackSchedule schedule(10);
    std::vector<double> due;
    // Presentation timestamps only, in decode order with reordered frames: 0, 0.3, 0.1, 0.2 ...
    for (double pts : {0.0, 0.3, 0.1, 0.2, 0.6, 0.4, 0.5}) due.push_back(schedule.dueTime(timing(pts)));
    EXPECT_EQ(due, (std::vector<double>{0, 0.3, 0.3, 0.3, 0.6, 0.6, 0.6}));

    EXPECT_NEAR(schedule.dueTime(timing(NAN)), 0.7, 1e-9) << "no timestamp: one frame on, at the frame rate";
    EXPECT_NEAR(schedule.dueTime(timing(5.0, 5.0, 0.25)), 0.8, 1e-9) << "picked up one frame on";
    EXPECT_NEAR(schedule.dueTime(timing(5.25, 5.25)), 1.05, 1e-9) << "after a sample of its own duration";
    EXPECT_NEAR(schedule.dueTime(timing(2.0, 2.0)), 1.15, 1e-9) << "decode time going back: a new start";
    EXPECT_NEAR(schedule.dueTime(timing(900, 900)), 1.25, 1e-9) << "a jump of minutes: a new start";
    EXPECT_NEAR(schedule.dueTime(timing(901, 901)), 2.25, 1e-9);
}

}  // namespace
