// SequenceChecker: for objects that must stay on one sequence (SequenceToken.h): an IO sequence, a
// serial task runner or dispatch queue, or, used outside any sequence, one thread. In debug builds
// it remembers where the object belongs, wherever it is first checked, and stops the process with
// a message when the object is used anywhere else; in release builds it costs nothing. Like
// ThreadChecker, but an object on a sequence may be used by whichever thread runs the sequence.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "SequenceToken.h"

namespace device {

#ifndef NDEBUG
class SequenceChecker {
public:
    // Stops the process when called outside the object's own sequence (or thread). `what` names
    // the object in the message.
    void check(const char* what) const {
        std::lock_guard guard(lock_);
        SequenceToken sequence = SequenceToken::current();
        std::thread::id thread = std::this_thread::get_id();
        if (!bound_) {
            bound_ = true;
            sequence_ = sequence;
            thread_ = thread;
        }
        if (sequence_.valid() ? sequence == sequence_ : thread == thread_) return;
        std::fprintf(stderr, "%s is used outside its own sequence\n", what);
        std::abort();
    }
    // The next sequence (or thread) that checks becomes the owner.
    void detach() {
        std::lock_guard guard(lock_);
        bound_ = false;
    }

private:
    mutable std::mutex lock_;
    mutable bool bound_ = false;
    mutable SequenceToken sequence_;  // when valid, the owner; else thread_ is
    mutable std::thread::id thread_;
};
#else
class SequenceChecker {
public:
    void check(const char*) const {}
    void detach() {}
};
#endif

}  // namespace device
