// A small file system mounted for one test, in a mount namespace of the test process's own, so
// nothing outside the test program sees it: for a disk that fills up or cannot be written. Children
// started after the mount see it too. Needs root, or an unprivileged user namespace where the
// process has no other threads; a test skips when neither is there. Test thread only.
#pragma once

#include <string>

class PrivateMount {
public:
    // Mounts a tmpfs of `bytes` on the existing directory `path`, its root owned by this user with
    // mode 0700. `problem()` says why not when it could not.
    PrivateMount(const std::string& path, size_t bytes);
    // Unmounts it.
    ~PrivateMount();
    PrivateMount(const PrivateMount&) = delete;
    PrivateMount& operator=(const PrivateMount&) = delete;

    // Empty when mounted, else why not (for GTEST_SKIP).
    const std::string& problem() const { return problem_; }
    // Makes the mount read-only; returns an empty string or why not.
    std::string makeReadOnly();

private:
    std::string path_;
    std::string problem_;
    bool mounted_ = false;
};
