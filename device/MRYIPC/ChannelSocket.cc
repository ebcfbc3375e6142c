#include "ChannelSocket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <Foundation/DeviceDirectory.h>

namespace device::ipc {

namespace {

constexpr int kListenBacklog = 64;

std::string describeErrno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

int newSocket() { return socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }

}  // namespace

std::string channelSocketPath(const std::string& name, std::string* error) {
    auto refuse = [&](const std::string& why) {
        if (error) *error = "channel name \"" + name + "\" " + why;
        return std::string();
    };
    if (name.empty() || name == "." || name == "..") return refuse("is not a file name");
    if (name.find('/') != std::string::npos) return refuse("holds '/'");
    if (name.find('\0') != std::string::npos) return refuse("holds NUL");
    if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".lock") == 0)
        return refuse("ends in \".lock\", which the servers' lock files use");
    std::string path = device::deviceDirectory() + "/ipc/" + name;
    if (path.size() >= sizeof(sockaddr_un::sun_path))
        return refuse("makes the socket path " + path + " longer than " +
                      std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes");
    return path;
}

bool listenChannel(const std::string& path, Listener& listener, std::string* error) {
    auto failed = [&](const std::string& why) {
        if (error) *error = why;
        closeListener(listener);
        return false;
    };
    listener = {};
    std::string directory = path.substr(0, path.rfind('/'));
    if (std::string problem = device::ensurePrivateDirectory(directory); !problem.empty()) return failed(problem);

    std::string lockPath = path + ".lock";
    listener.lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (listener.lock < 0) return failed(describeErrno("cannot open " + lockPath));
    if (flock(listener.lock, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return failed("another live process already serves " + path);
        return failed(describeErrno("cannot lock " + lockPath));
    }

    // Holding the lock, whatever socket is there was left by a server that died.
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) return failed(path + " exists and is not a socket");
        if (unlink(path.c_str()) != 0) return failed(describeErrno("cannot remove the stale socket " + path));
    }

    sockaddr_un address;
    if (!fillAddress(path, address)) return failed("the socket path " + path + " is too long");
    listener.socket = newSocket();
    if (listener.socket < 0) return failed(describeErrno("cannot make a socket"));
    if (bind(listener.socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return failed(describeErrno("cannot bind " + path));
    if (chmod(path.c_str(), 0600) != 0) return failed(describeErrno("cannot make " + path + " private"));
    if (listen(listener.socket, kListenBacklog) != 0) return failed(describeErrno("cannot listen on " + path));
    return true;
}

void closeListener(Listener& listener) {
    if (listener.socket >= 0) close(listener.socket);
    if (listener.lock >= 0) close(listener.lock);
    listener = {};
}

int connectChannel(const std::string& path) {
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = newSocket();
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int acceptConnection(int listening) { return accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK); }

bool peerIsSameUser(int socket) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
    return credentials.uid == geteuid();
}

SendResult sendFrame(int socket, const std::string& frame) {
    while (true) {
        if (send(socket, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0) return SendResult::sent;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) return SendResult::wouldBlock;
        return SendResult::broken;
    }
}

long receiveFrame(int socket, unsigned char* buffer, size_t capacity) {
    while (true) {
        ssize_t length = recv(socket, buffer, capacity, MSG_TRUNC | MSG_DONTWAIT);
        if (length >= 0) return static_cast<long>(length);
        if (errno != EINTR) return -1;
    }
}

void reportProblem(const std::string& message) {
    std::string line = "MRYIPC: " + message + "\n";
    // One write, so lines from several threads never interleave.
    ssize_t written = write(STDERR_FILENO, line.data(), line.size());
    (void)written;
}

}  // namespace device::ipc
