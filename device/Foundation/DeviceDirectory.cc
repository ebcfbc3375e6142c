#include "DeviceDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

}  // namespace device
