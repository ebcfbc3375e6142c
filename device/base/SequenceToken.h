// SequenceToken: names a sequence, a line of tasks that run one after another, never two at once,
// though not necessarily on one thread. Whoever runs a sequence's task holds a Scope for it, so
// that code inside the task can ask which sequence it is on (SequenceChecker does). Outside any
// task of a sequence, current() is a token that is not valid. Tokens are plain values; make, copy
// and compare them on any thread.
#pragma once

#include <cstdint>

namespace device {

class SequenceToken {
public:
    // Not valid: no sequence.
    SequenceToken() = default;
    // A token no other sequence of this process has.
    static SequenceToken make();
    // The sequence whose task the calling thread runs now; not valid outside one.
    static SequenceToken current();

    bool valid() const { return id_ != 0; }
    bool operator==(const SequenceToken&) const = default;

    class Scope;

private:
    explicit SequenceToken(uint64_t id) : id_(id) {}
    uint64_t id_ = 0;
};

// For its life, the calling thread runs tasks of `token`'s sequence. Scopes nest; each is made and
// ended on one thread.
class SequenceToken::Scope {
public:
    explicit Scope(SequenceToken token);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    SequenceToken outer_;
};

}  // namespace device
