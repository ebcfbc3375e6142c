#include "HomeDescriptionWatcher.h"

#include <sys/inotify.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <future>

#include "../base/IoSequence.h"

namespace device {

namespace {
constexpr char kDescriptionName[] = "home.json";
}

struct HomeDescriptionWatcher::WatchHolder {
    IoSequence::Watch watch;
};

StatusOr<std::unique_ptr<HomeDescriptionWatcher>> HomeDescriptionWatcher::start(const std::string& directory,
                                                                                std::function<void()> changed) {
    std::unique_ptr<HomeDescriptionWatcher> watcher(new HomeDescriptionWatcher());
    watcher->fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watcher->fd_ < 0)
        return Status::error(std::string("cannot watch the home description: ") + std::strerror(errno));
    if (inotify_add_watch(watcher->fd_, directory.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
        return Status::error("cannot watch " + directory + " for changes of its home: " + std::strerror(errno));
    StatusOr<std::unique_ptr<IoSequence>> sequence = IoSequence::make();
    if (!sequence.ok()) return sequence.status();
    watcher->sequence_ = *std::move(sequence);
    watcher->changed_ = std::move(changed);
    HomeDescriptionWatcher* self = watcher.get();
    std::promise<void> watching;
    self->sequence_->postTask([self, &watching] {
        self->watch_ = std::make_unique<WatchHolder>();
        self->watch_->watch =
            self->sequence_->watch(self->fd_, IoSequence::Readiness::readable, [self] { self->readEvents(); });
        watching.set_value();
    });
    watching.get_future().wait();
    return watcher;
}

HomeDescriptionWatcher::~HomeDescriptionWatcher() {
    if (sequence_) {
        sequence_->postTask([this] { watch_.reset(); });
        sequence_->stop();
    }
    if (fd_ >= 0) close(fd_);
}

void HomeDescriptionWatcher::readEvents() {
    alignas(inotify_event) char buffer[4096];
    bool relevant = false;
    for (;;) {
        ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got <= 0) break;
        for (char* at = buffer; at < buffer + got;) {
            auto* event = reinterpret_cast<inotify_event*>(at);
            if (event->len > 0 && std::strcmp(event->name, kDescriptionName) == 0) relevant = true;
            if (event->mask & IN_Q_OVERFLOW) relevant = true;
            at += sizeof(inotify_event) + event->len;
        }
    }
    if (relevant && changed_) changed_();
}

}  // namespace device
