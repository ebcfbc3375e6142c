// A small tmpfs mounted for one test in a mount namespace of the test program's own, so nothing
// outside it sees the mount; children started afterwards do. For a disk that fills up or cannot be
// written. Needs root (CI runs as root); elsewhere `problem()` says why not, for GTEST_SKIP.
#pragma once

#include <string>

class PrivateMount {
public:
    // Mounts `bytes` of tmpfs on the existing directory `path`, its root 0700 and this user's.
    PrivateMount(const std::string& path, size_t bytes);
    ~PrivateMount();
    PrivateMount(const PrivateMount&) = delete;
    PrivateMount& operator=(const PrivateMount&) = delete;

    // Empty when mounted, else why not.
    const std::string& problem() const { return problem_; }
    // Makes the mount read-only; returns an empty string or why not.
    std::string makeReadOnly();

private:
    std::string path_;
    std::string problem_;
};
