// LiveFrameQueue: the hand-over between a live source's reading thread and the player thread. A
// live source never queues: what waits is only what the player still needs, so that when the
// player falls behind it shows the newest picture rather than working through a backlog.
// - A raw picture or a keyframe sample replaces everything waiting: the newer frame needs none of
//   it, so the older frames are dropped.
// - A sample that needs the ones before it (an H.264 frame between keyframes) joins them. When
//   more than `maxWaiting` would wait, all of them are dropped and the samples that follow are
//   passed over up to the next keyframe: decoding could not start from the middle.
// The player takes everything waiting at once, oldest first, and shows only the newest of it.
//
// Thread-safe; one pushing and one taking thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "../media/LiveSource.h"

class LiveFrameQueue {
public:
    explicit LiveFrameQueue(size_t maxWaiting = 8) : maxWaiting_(maxWaiting) {}

    void push(LiveFrame frame);
    // No more frames come: take() hands out what waits, then returns empty at once.
    void close();
    // Waits until frames wait or the queue is closed; everything waiting, oldest first. Empty only
    // once the queue is closed and nothing waits.
    std::vector<LiveFrame> take();
    // Frames dropped or passed over so far.
    long dropped() const;

private:
    const size_t maxWaiting_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<LiveFrame> waiting_;
    bool closed_ = false;
    bool awaitingKeyFrame_ = false;
    long dropped_ = 0;
};
