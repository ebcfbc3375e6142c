#include "DeviceDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace device {

std::string deviceDirectory() {
    if (const char* chosen = std::getenv("GLIMMORA_DEVICE"); chosen && *chosen) return chosen;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return std::string(data) + "/glimmora/device";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/glimmora/device";
}

std::string ensurePrivateDirectory(const std::string& path) {
    if (path.empty()) return "no directory given";
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return "cannot create " + prefix + ": " + std::strerror(errno);
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return "cannot read " + path + ": " + std::strerror(errno);
    if (!S_ISDIR(info.st_mode)) return path + " is not a directory";
    if (info.st_uid != geteuid()) return path + " belongs to another user";
    if ((info.st_mode & 0777) != 0700 && chmod(path.c_str(), 0700) != 0)
        return "cannot make " + path + " private: " + std::strerror(errno);
    return {};
}

std::string ensurePrivateFile(const std::string& path, bool create) {
    // Looked at through an O_PATH descriptor, so the mode is changed on the very file that was
    // checked. Closing any other descriptor of a file drops every POSIX lock this process holds on
    // it: SQLite holds such locks on the databases checked here, and without them another process
    // takes a database for unused and removes its log from under this one's later writes.
    int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        // A file this call makes itself is locked by nobody, so closing it costs no lock.
        int made = open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0600);
        if (made >= 0) close(made);
        else if (errno != EEXIST) return "cannot create " + path + ": " + std::strerror(errno);
        fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    }
    if (fd < 0) {
        if (!create && errno == ENOENT) return {};
        return "cannot open " + path + ": " + std::strerror(errno);
    }
    struct stat info {};
    std::string problem;
    // fchmod refuses O_PATH descriptors; the descriptor's own link in /proc names the same file.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (fstat(fd, &info) != 0) problem = "cannot read " + path + ": " + std::strerror(errno);
    else if (!S_ISREG(info.st_mode)) problem = path + " is not a regular file";
    else if (info.st_uid != geteuid()) problem = path + " belongs to another user";
    else if ((info.st_mode & 07777) != 0600 && chmod(self.c_str(), 0600) != 0)
        problem = "cannot make " + path + " private: " + std::strerror(errno);
    close(fd);
    return problem;
}

}  // namespace device
