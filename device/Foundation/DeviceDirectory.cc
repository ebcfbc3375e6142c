#include "DeviceDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace device {

namespace {

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

Status failed(const std::string& what, const std::string& path) {
    return Status::error(what + " " + path + ": " + std::strerror(errno));
}

// Creates `path` and its missing parents 0700 (as the umask allows); `*made` tells whether `path`
// itself was made now.
Status makeMissing(const std::string& path, bool* made) {
    *made = false;
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        bool last = slash == std::string::npos;
        if (mkdir(prefix.c_str(), 0700) == 0)
            *made = last;
        else if (errno != EEXIST)
            return failed("cannot create", prefix);
        if (last) return Status::OK();
    }
}

// Whether the device directory that `info` describes may hold the device. One made just now may
// still have a mode the umask gave it.
Status checkUsable(const std::string& path, const struct stat& info, bool made) {
    if (!S_ISDIR(info.st_mode)) return Status::error(path + " is not a directory");
    if (info.st_uid != geteuid()) return Status::error(path + " belongs to another user");
    if (!made && (info.st_mode & (S_IWGRP | S_IWOTH)))
        return Status::error(path + " (mode " + modeText(info.st_mode) +
                             ") can be written by other users, so it cannot hold the device's sockets and settings; "
                             "it is left as it is: choose a directory of your own (a missing one is made private)");
    return Status::OK();
}

// Makes the device directory when missing and checks it: it is changed only when it was made just now.
Status prepareDeviceDirectory(const std::string& path) {
    bool made = false;
    if (Status problem = makeMissing(path, &made); !problem.ok()) return problem;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return failed("cannot read", path);
    if (Status problem = checkUsable(path, info, made); !problem.ok()) return problem;
    if (made && (info.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0)
        return failed("cannot make private", path);
    return Status::OK();
}

// Narrows the file or directory open at `fd` (an O_PATH descriptor of `path`, not a symbolic link)
// to `mode` when it is this user's. A read-only file system keeps the mode it has.
Status narrow(int fd, const std::string& path, mode_t mode, bool directory) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return failed("cannot read", path);
    if (S_ISLNK(info.st_mode))
        return Status::error(path +
                             " is a symbolic link, which is not followed; it and its target are left as they are");
    if (directory ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode))
        return Status::error(path + (directory ? " is not a directory" : " is not a regular file"));
    if (info.st_uid != geteuid()) return Status::error(path + " belongs to another user");
    if ((info.st_mode & 07777) == mode) return Status::OK();
    // fchmod refuses O_PATH descriptors; the descriptor's own link in /proc names the same file.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (chmod(self.c_str(), mode) != 0 && errno != EROFS) return failed("cannot make private", path);
    return Status::OK();
}

// Makes or narrows one of the device's own directories below the device directory.
Status ensureOwnDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return failed("cannot create", path);
    int fd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return failed("cannot open", path);
    Status problem = narrow(fd, path, 0700, /*directory=*/true);
    close(fd);
    return problem;
}

}  // namespace

std::string deviceDirectory() {
    if (const char* chosen = std::getenv("GLIMMORA_DEVICE"); chosen && *chosen) return chosen;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return std::string(data) + "/glimmora/device";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/glimmora/device";
}

Status ensurePrivateDirectory(const std::string& path) {
    if (path.empty()) return Status::error("no directory given");
    const std::string device = deviceDirectory();
    bool below =
        path.size() > device.size() && path.compare(0, device.size(), device) == 0 && path[device.size()] == '/';
    const std::string root = below ? device : path;
    if (Status problem = prepareDeviceDirectory(root); !problem.ok()) return problem;
    for (size_t end = root.size(); end < path.size();) {
        end = path.find('/', end + 1);
        if (end == std::string::npos) end = path.size();
        if (path[end - 1] == '/') continue;  // an empty part ("a//b")
        if (Status problem = ensureOwnDirectory(path.substr(0, end)); !problem.ok()) return problem;
    }
    return Status::OK();
}

Status checkDeviceDirectory(const std::string& path) {
    if (path.empty()) return Status::error("no directory given");
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return errno == ENOENT ? Status::OK() : failed("cannot read", path);
    return checkUsable(path, info, /*made=*/false);
}

Status ensurePrivateFile(const std::string& path, bool create) {
    // Looked at through an O_PATH descriptor, so the mode is changed on the very file that was
    // checked. Closing any other descriptor of a file drops every POSIX lock this process holds on
    // it: SQLite holds such locks on the databases checked here, and without them another process
    // takes a database for unused and removes its log from under this one's later writes.
    int fd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        // A file this call makes itself is locked by nobody, so closing it costs no lock.
        int made = open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0600);
        if (made >= 0)
            close(made);
        else if (errno != EEXIST)
            return failed("cannot create", path);
        fd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
        if (!create && errno == ENOENT) return Status::OK();
        return failed("cannot open", path);
    }
    Status problem = narrow(fd, path, 0600, /*directory=*/false);
    close(fd);
    return problem;
}

Status checkWritable(const std::string& path) {
    if (access(path.c_str(), W_OK) == 0 || errno == ENOENT) return Status::OK();
    if (errno == EROFS) return Status::error("the file system holding " + path + " is read-only");
    if (errno == EACCES) {
        struct stat info {};
        if (stat(path.c_str(), &info) == 0)
            return Status::error("this user may not write to " + path + " (mode " + modeText(info.st_mode) + ")");
    }
    return failed("cannot write to", path);
}

}  // namespace device
