#include "LoopbackNetwork.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace device {
namespace {

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// The number of threads of this process, from /proc/self/status; 0 when it cannot be read.
int threadCount() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    }
    return 0;
}

Status writeFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return Status::error(systemError(std::string("cannot open ") + path));
    ssize_t written = write(fd, text.data(), text.size());
    int error = errno;
    close(fd);
    if (written != static_cast<ssize_t>(text.size())) {
        errno = error;
        return Status::error(systemError(std::string("cannot write ") + path));
    }
    return Status::OK();
}

std::vector<std::string> interfaceNames() {
    std::vector<std::string> names;
    if (struct if_nameindex* list = if_nameindex()) {
        for (struct if_nameindex* entry = list; entry->if_index != 0; ++entry) names.emplace_back(entry->if_name);
        if_freenameindex(list);
    }
    return names;
}

// Reads the flags of `lo` and, when `up`, sets IFF_UP and IFF_MULTICAST first. Returns the flags in
// `flags`.
Status loopbackFlags(bool up, short* flags) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Status::error(systemError("cannot make a socket to configure loopback"));
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    Status status;
    if (ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
        status = Status::error(systemError("cannot read the flags of lo"));
    } else if (up && (request.ifr_flags & (IFF_UP | IFF_MULTICAST)) != (IFF_UP | IFF_MULTICAST)) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_MULTICAST);
        if (ioctl(fd, SIOCSIFFLAGS, &request) != 0) status = Status::error(systemError("cannot bring lo up"));
    }
    *flags = request.ifr_flags;
    close(fd);
    return status;
}

Status unshareNetwork() {
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNET) != 0) return Status::error(systemError("cannot make a network namespace"));
        return Status::OK();
    }
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        return Status::error(systemError("cannot make a user and network namespace (are user namespaces allowed?)"));
    }
    // A user namespace's group list may only be fixed once setgroups is denied.
    if (Status status = writeFile("/proc/self/setgroups", "deny"); !status.ok()) return status;
    if (Status status = writeFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
        !status.ok()) {
        return status;
    }
    return writeFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
}

}  // namespace

Status enterLoopbackOnlyNetwork() {
    int threads = threadCount();
    if (threads != 1) {
        return Status::error("cannot enter a loopback-only network: a network namespace belongs to a thread, and " +
                             (threads == 0 ? std::string("the thread count could not be read")
                                           : "this process already has " + std::to_string(threads) + " threads"));
    }
    if (Status status = unshareNetwork(); !status.ok()) {
        return Status::error("cannot enter a loopback-only network: " + status.message());
    }
    short flags = 0;
    if (Status status = loopbackFlags(true, &flags); !status.ok()) {
        return Status::error("cannot enter a loopback-only network: " + status.message());
    }
    if (!inLoopbackOnlyNetwork()) {
        std::string names;
        for (const std::string& name : interfaceNames()) names += (names.empty() ? "" : ", ") + name;
        return Status::error("the new network namespace is not loopback-only and up; its interfaces: " + names);
    }
    return Status::OK();
}

bool inLoopbackOnlyNetwork() {
    std::vector<std::string> names = interfaceNames();
    if (names.size() != 1 || names[0] != "lo") return false;
    short flags = 0;
    return loopbackFlags(false, &flags).ok() && (flags & IFF_UP) != 0;
}

}  // namespace device
