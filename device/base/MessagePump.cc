#include "MessagePump.h"

#include <sys/eventfd.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

namespace device {

void ConditionPump::waitUntil(SteadyClock::time_point deadline) {
    std::unique_lock guard(lock_);
    auto woken = [this] { return pendingWakes_ > 0; };
    if (deadline == SteadyClock::time_point::max())
        woken_.wait(guard, woken);
    else
        woken_.wait_until(guard, deadline, woken);
    if (pendingWakes_ > 0) --pendingWakes_;
}

void ConditionPump::wake() {
    {
        std::lock_guard guard(lock_);
        ++pendingWakes_;
    }
    woken_.notify_one();
}

StatusOr<std::unique_ptr<PollPump>> PollPump::make() {
    int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) return Status::error(std::string("cannot make an eventfd (") + std::strerror(errno) + ")");
    return std::unique_ptr<PollPump>(new PollPump(wakeFd));
}

PollPump::~PollPump() { close(wakeFd_); }

void PollPump::wake() {
    uint64_t one = 1;
    ssize_t written = write(wakeFd_, &one, sizeof one);
    (void)written;  // a counter already non-zero wakes the waiter just the same
}

void PollPump::waitUntil(SteadyClock::time_point deadline) {
    std::vector<pollfd> none;
    waitUntil(none, deadline);
}

void PollPump::waitUntil(std::vector<pollfd>& watched, SteadyClock::time_point deadline) {
    polled_.assign(1, pollfd{wakeFd_, POLLIN, 0});
    polled_.insert(polled_.end(), watched.begin(), watched.end());
    timespec timeout{};
    timespec* timeoutOrNull = nullptr;
    if (deadline != SteadyClock::time_point::max()) {
        auto left = std::max(deadline - SteadyClock::now(), SteadyClock::duration::zero());
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        timeout.tv_sec = seconds.count();
        timeout.tv_nsec = std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count();
        timeoutOrNull = &timeout;
    }
    int ready = ppoll(polled_.data(), polled_.size(), timeoutOrNull, nullptr);
    for (size_t i = 0; i < watched.size(); ++i) watched[i].revents = ready > 0 ? polled_[i + 1].revents : 0;
    if (ready > 0 && polled_[0].revents) {
        uint64_t count;
        ssize_t drained = read(wakeFd_, &count, sizeof count);
        (void)drained;
    }
}

}  // namespace device
