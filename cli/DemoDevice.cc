#include "DemoDevice.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

constexpr const char* kPrefix = "glimmora-demo-";
constexpr const char* kLockName = "demo.lock";

std::string temporaryRoot() {
    const char* root = std::getenv("TMPDIR");
    return root && *root ? root : "/tmp";
}

// A device of a demo that has ended: a directory of this user (not a link to one) whose lock file
// has been written and is no longer held. A lock file not yet written may belong to a demo that is
// just starting, so such a device is left alone.
bool isStale(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) return false;
    int lock = open((path + "/" + kLockName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (lock < 0) return false;
    bool stale = fstat(lock, &info) == 0 && info.st_size > 0 && flock(lock, LOCK_EX | LOCK_NB) == 0;
    close(lock);
    return stale;
}

void removeStale(const std::string& root, std::vector<std::string>* removed) {
    DIR* directory = opendir(root.c_str());
    if (!directory) return;
    while (dirent* entry = readdir(directory)) {
        if (std::strncmp(entry->d_name, kPrefix, std::strlen(kPrefix)) != 0) continue;
        std::string path = root + "/" + entry->d_name;
        if (!isStale(path)) continue;
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
        if (removed) removed->push_back(path);
    }
    closedir(directory);
}

}  // namespace

device::StatusOr<std::unique_ptr<TemporaryDevice>> TemporaryDevice::make(std::vector<std::string>* removed) {
    std::string root = temporaryRoot();
    removeStale(root, removed);
    std::string pattern = root + "/" + kPrefix + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return device::Status::error("cannot make a temporary device directory in " + root + ": " +
                                     std::strerror(errno));
    // Not close-on-exec: the processes the demo starts inherit the lock and keep it while they live.
    int lock = open((pattern + "/" + kLockName).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        device::Status failed =
            device::Status::error("cannot lock the temporary device " + pattern + ": " + std::strerror(errno));
        if (lock >= 0) close(lock);
        std::error_code ignored;
        std::filesystem::remove_all(pattern, ignored);
        return failed;
    }
    std::string pid = std::to_string(getpid()) + "\n";
    if (write(lock, pid.data(), pid.size()) != static_cast<ssize_t>(pid.size())) {
        // Left unwritten, the device would never count as stale; it is still removed at the end.
    }
    return std::unique_ptr<TemporaryDevice>(new TemporaryDevice(pattern, lock));
}

TemporaryDevice::~TemporaryDevice() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    close(lock_);
}
