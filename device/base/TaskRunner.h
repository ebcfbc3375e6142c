// TaskRunner: runs tasks at their due time, or as soon after as one of its threads is free. The
// threads are its own, started as tasks come, at most `threads` of them; with one it is serial,
// running its tasks one after another in order of due time, then of posting, as one sequence
// (SequenceToken.h). The dispatch queues stand on it.
//
// A task may drop the last reference to its own runner: the runner then goes, and the tasks whose
// time has come still run; later ones are dropped. All methods may be called from any thread.
#pragma once

#include <functional>
#include <memory>

#include "Clock.h"

namespace device {

class TaskRunner {
public:
    using Task = std::function<void()>;

    explicit TaskRunner(int threads);
    ~TaskRunner();
    TaskRunner(const TaskRunner&) = delete;
    TaskRunner& operator=(const TaskRunner&) = delete;

    void postTask(Task task) { postDelayedTask(SteadyClock::now(), std::move(task)); }
    void postDelayedTask(SteadyClock::time_point due, Task task);
    // Whether the calling thread is one of this runner's own.
    bool runsTasksOnCurrentThread() const;

private:
    struct Shared;
    static void work(Shared& shared);

    // The threads hold it too, so it outlives the runner when a task lets the runner go.
    std::shared_ptr<Shared> shared_;
};

}  // namespace device
