#include "DeviceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

namespace device {

DeviceLock::DeviceLock(DeviceLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

DeviceLock& DeviceLock::operator=(DeviceLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

DeviceLock::~DeviceLock() {
    if (fd_ >= 0) close(fd_);
}

Status DeviceLock::acquire(const std::string& directory, const std::string& name, DeviceLock* lock,
                           const std::function<void()>& waiting) {
    std::string path = directory + "/" + name + ".lock";
    int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        if (errno == ELOOP) return Status::error(path + " is a symbolic link; remove it and try again");
        return Status::error("cannot open the lock " + path + ": " + std::strerror(errno));
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            int error = errno;
            close(fd);
            return Status::error("cannot lock " + path + ": " + std::strerror(error));
        }
        if (waiting) waiting();
        while (flock(fd, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            int error = errno;
            close(fd);
            return Status::error("cannot lock " + path + ": " + std::strerror(error));
        }
    }
    *lock = DeviceLock();
    lock->fd_ = fd;
    return Status::OK();
}

Status lockHomeChanges(const std::string& directory, DeviceLock* lock) {
    return DeviceLock::acquire(directory, "home", lock, [] {
        std::cerr << "glimmora: another change to this device's home is under way; waiting for it to finish\n";
    });
}

}  // namespace device
