#include "PollTimer.h"

#include <sys/timerfd.h>
#include <unistd.h>
#include <cstdint>

namespace device {

PollTimer::PollTimer() {
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd_ < 0) status_ = Status::error("cannot make a timerfd");
}

PollTimer::~PollTimer() {
    if (fd_ >= 0) close(fd_);
}

void PollTimer::armAfter(std::chrono::nanoseconds delay) {
    if (fd_ < 0) return;
    itimerspec when{};
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(delay);
    when.it_value.tv_sec = seconds.count();
    when.it_value.tv_nsec = (delay - seconds).count();
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;  // zero would disarm
    timerfd_settime(fd_, 0, &when, nullptr);
}

void PollTimer::disarm() {
    if (fd_ < 0) return;
    itimerspec never{};
    timerfd_settime(fd_, 0, &never, nullptr);
}

void PollTimer::clear() {
    if (fd_ < 0) return;
    uint64_t firings;
    ssize_t taken = read(fd_, &firings, sizeof firings);
    (void)taken;  // nothing to take is as good
}

}  // namespace device
