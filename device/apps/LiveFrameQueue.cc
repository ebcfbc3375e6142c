#include "LiveFrameQueue.h"

void LiveFrameQueue::push(LiveFrame frame) {
    {
        std::lock_guard hold(lock_);
        if (closed_) return;
        const bool standsAlone = frame.picture || frame.keyFrame;
        if (standsAlone) {
            awaitingKeyFrame_ = false;
            dropped_ += static_cast<long>(waiting_.size());
            waiting_.clear();
        } else if (awaitingKeyFrame_) {
            ++dropped_;
            return;
        } else if (waiting_.size() >= maxWaiting_) {
            dropped_ += static_cast<long>(waiting_.size()) + 1;
            waiting_.clear();
            awaitingKeyFrame_ = true;
            return;
        }
        waiting_.push_back(std::move(frame));
    }
    changed_.notify_all();
}

void LiveFrameQueue::close() {
    {
        std::lock_guard hold(lock_);
        closed_ = true;
    }
    changed_.notify_all();
}

std::vector<LiveFrame> LiveFrameQueue::take() {
    std::unique_lock hold(lock_);
    changed_.wait(hold, [&] { return !waiting_.empty() || closed_; });
    std::vector<LiveFrame> frames;
    frames.reserve(waiting_.size());
    for (LiveFrame& frame : waiting_) frames.push_back(std::move(frame));
    waiting_.clear();
    return frames;
}

long LiveFrameQueue::dropped() const {
    std::lock_guard hold(lock_);
    return dropped_;
}
