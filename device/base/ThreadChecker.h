// ThreadChecker: for objects that must stay on one thread (run loops, display links). In debug
// builds it remembers the thread the object belongs to, the first that checks, and stops the
// process with a message when another thread uses the object; in release builds it costs nothing.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace device {

#ifndef NDEBUG
class ThreadChecker {
public:
    // Stops the process when called on a thread other than the object's own. `what` names the
    // object in the message.
    void check(const char* what) const {
        std::lock_guard guard(lock_);
        std::thread::id current = std::this_thread::get_id();
        if (owner_ == std::thread::id()) owner_ = current;
        if (owner_ == current) return;
        std::fprintf(stderr, "%s is used on a thread other than its own\n", what);
        std::abort();
    }
    // The next thread that checks becomes the owner.
    void detach() {
        std::lock_guard guard(lock_);
        owner_ = std::thread::id();
    }

private:
    mutable std::mutex lock_;
    mutable std::thread::id owner_;
};
#else
class ThreadChecker {
public:
    void check(const char*) const {}
    void detach() {}
};
#endif

}  // namespace device
