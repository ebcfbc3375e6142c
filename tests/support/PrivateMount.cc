#include "PrivateMount.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

std::string failed(const std::string& what) { return what + ": " + std::strerror(errno); }

bool writeFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return whole;
}

// Moves this process into a mount namespace of its own; once is enough for the whole program.
std::string enterMountNamespace() {
    static std::string problem = [] {
        if (geteuid() != 0) {
            // As another user: root of a user namespace of its own, mapped to this user.
            uid_t uid = geteuid();
            gid_t gid = getegid();
            if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return failed("cannot make a user and mount namespace");
            if (!writeFile("/proc/self/setgroups", "deny") ||
                !writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
                return failed("cannot map this user in the new user namespace");
        } else if (unshare(CLONE_NEWNS) != 0) {
            return failed("cannot make a mount namespace");
        }
        // Mounts made from here on stay in this namespace.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failed("cannot make / private");
        return std::string();
    }();
    return problem;
}

}  // namespace

PrivateMount::PrivateMount(const std::string& path, size_t bytes) : path_(path) {
    problem_ = enterMountNamespace();
    if (!problem_.empty()) return;
    std::string options = "size=" + std::to_string(bytes) + ",mode=0700,uid=" + std::to_string(geteuid()) +
                          ",gid=" + std::to_string(getegid());
    if (mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) != 0) problem_ = failed("cannot mount a tmpfs on " + path);
    else mounted_ = true;
}

PrivateMount::~PrivateMount() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
}

std::string PrivateMount::makeReadOnly() {
    if (!mounted_) return problem_;
    if (mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        return failed("cannot make " + path_ + " read-only");
    return {};
}
