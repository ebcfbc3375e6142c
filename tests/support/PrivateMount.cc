#include "PrivateMount.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace {

std::string failed(const std::string& what) { return what + ": " + std::strerror(errno); }

// Moves this process into a mount namespace of its own, whose mounts stay in it; once is enough.
std::string enterMountNamespace() {
    static const std::string problem = [] {
        if (unshare(CLONE_NEWNS) != 0) return failed("cannot make a mount namespace");
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failed("cannot make / private");
        return std::string();
    }();
    return problem;
}

}  // namespace

PrivateMount::PrivateMount(const std::string& path, size_t bytes) : path_(path), problem_(enterMountNamespace()) {
    std::string options = "size=" + std::to_string(bytes) + ",mode=0700,uid=" + std::to_string(geteuid());
    if (problem_.empty() && mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) != 0)
        problem_ = failed("cannot mount a tmpfs on " + path);
}

PrivateMount::~PrivateMount() {
    if (problem_.empty()) umount2(path_.c_str(), MNT_DETACH);
}

std::string PrivateMount::makeReadOnly() {
    if (!problem_.empty()) return problem_;
    if (mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        return failed("cannot make " + path_ + " read-only");
    return {};
}
