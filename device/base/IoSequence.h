// IoSequence: a thread of its own that runs tasks one after another, as one sequence
// (SequenceToken.h), and between them waits on descriptors: what an IO thread needs. Tasks are
// posted from any thread, to run now or at a due time (a retry, a backoff); descriptors are watched
// from the sequence itself, and a watch's callback runs on the sequence whenever its descriptor is
// ready, until the watch is cancelled. The waiting is a PollPump's, so a post wakes the sequence
// at once, and a descriptor wakes it without a post.
//
// Made by `make`, which checks that the pump could be made: a sequence exists only if it can be
// woken, so its users never look at the pump.
//
// The sequence ends with `stop` or with its object, as a serial TaskRunner does: the tasks whose
// time has come still run, later ones and those posted from then on are dropped unrun (with what
// they hold), and no watch's callback runs any more. Ended by a task of its own, it lets its thread
// go, which finishes on its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "Clock.h"
#include "StatusOr.h"

namespace device {

class IoSequence {
    struct Shared;  // what the object and its thread share

public:
    using Task = std::function<void()>;

    // A sequence with its thread started; an error when no pump could be made for it (the process
    // has no descriptor left).
    static StatusOr<std::unique_ptr<IoSequence>> make();
    // Ends the sequence unless `stop` did.
    ~IoSequence();
    IoSequence(const IoSequence&) = delete;
    IoSequence& operator=(const IoSequence&) = delete;

    // Runs `task` on the sequence, after the tasks posted before it that are due by then. Any thread.
    void postTask(Task task) { postDelayedTask(SteadyClock::now(), std::move(task)); }
    // Runs `task` on the sequence at `due`, or as soon after as the sequence is free. Any thread.
    void postDelayedTask(SteadyClock::time_point due, Task task);
    // Whether the calling code runs on this sequence. Any thread.
    bool runsTasksInCurrentSequence() const;
    // Ends the sequence as the header says, and waits for it unless called from a task of its own.
    // The object stays usable: its tasks' captures may still reach it meanwhile, and posts to it
    // are dropped. Not from two threads at once.
    void stop();

    enum class Readiness { readable, writable };
    // A watch of one descriptor; cancelled when it goes. Made, moved, cancelled and let go on the
    // sequence, or once the sequence has ended.
    class Watch {
    public:
        Watch() = default;  // watches nothing
        Watch(Watch&& other) noexcept;
        Watch& operator=(Watch&& other) noexcept;
        ~Watch() { cancel(); }

        // From here on the callback is not called (not even for readiness already seen).
        void cancel();

    private:
        friend class IoSequence;
        Watch(std::weak_ptr<Shared> shared, uint64_t id) : shared_(std::move(shared)), id_(id) {}
        std::weak_ptr<Shared> shared_;
        uint64_t id_ = 0;
    };

    // Calls `ready` on the sequence each time `fd` can be read (or written) without blocking, or has
    // hung up or failed, for as long as the watch lasts. As poll does, it calls again while `fd` stays
    // ready, so `ready` reads (or writes) until it would block, or cancels. `fd` must stay open while
    // it is watched. On the sequence only.
    [[nodiscard]] Watch watch(int fd, Readiness readiness, std::function<void()> ready);

private:
    explicit IoSequence(std::shared_ptr<Shared> shared);
    static void run(Shared& shared);

    // The thread holds it too, so it outlives the object when a task ends the sequence.
    std::shared_ptr<Shared> shared_;
};

}  // namespace device
