// HomeDescriptionWatcher: notices when the home description of a device directory changes: when
// "home.json" is replaced (renamed over, as every `glimmora home` command installs it) or written
// and closed (an edit in place). Device only; on an IO sequence of its own (base/IoSequence.h).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "../base/StatusOr.h"

namespace device {

class IoSequence;

class HomeDescriptionWatcher {
public:
    // Starts watching `directory`; `changed` runs on the watcher's sequence after each change (a
    // burst of changes may give one call). An error when the directory cannot be watched.
    static StatusOr<std::unique_ptr<HomeDescriptionWatcher>> start(const std::string& directory,
                                                                   std::function<void()> changed);
    // Stops: `changed` is not called once this returns. Not from `changed`.
    ~HomeDescriptionWatcher();
    HomeDescriptionWatcher(const HomeDescriptionWatcher&) = delete;
    HomeDescriptionWatcher& operator=(const HomeDescriptionWatcher&) = delete;

private:
    HomeDescriptionWatcher() = default;
    void readEvents();

    int fd_ = -1;
    std::function<void()> changed_;
    std::unique_ptr<IoSequence> sequence_;
    struct WatchHolder;
    std::unique_ptr<WatchHolder> watch_;  // made, used and let go on the sequence
};

}  // namespace device
