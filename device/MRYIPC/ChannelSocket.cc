#include "ChannelSocket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../Foundation/DeviceDirectory.h"

namespace device::ipc {

namespace {

constexpr int kListenBacklog = 64;

std::string describeErrno(const std::string& what) { return what + ": " + std::strerror(errno); }

// The address of the socket at `path`. A path too long for sun_path is named through an O_PATH
// descriptor of its directory, "/proc/self/fd/N/<name>", which the kernel resolves like any other
// path; unlike a chdir, this touches no state that the process's other threads share.
class SocketAddress {
public:
    SocketAddress() = default;
    ~SocketAddress() {
        if (directory_ >= 0) close(directory_);
    }
    SocketAddress(const SocketAddress&) = delete;
    SocketAddress& operator=(const SocketAddress&) = delete;

    // False with errno set when the address cannot be made.
    bool make(const std::string& path) {
        std::string name = path;
        if (path.size() >= sizeof address_.sun_path) {
            size_t slash = path.rfind('/');
            std::string directory = slash == std::string::npos ? "." : path.substr(0, std::max<size_t>(slash, 1));
            directory_ = open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (directory_ < 0) return false;
            name = "/proc/self/fd/" + std::to_string(directory_) + "/" + path.substr(slash + 1);
        }
        if (name.size() >= sizeof address_.sun_path) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memset(&address_, 0, sizeof address_);
        address_.sun_family = AF_UNIX;
        std::memcpy(address_.sun_path, name.data(), name.size());
        return true;
    }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
    socklen_t size() const { return sizeof address_; }

private:
    sockaddr_un address_{};
    int directory_ = -1;
};

// The id the serving process wrote into its lock file; 0 when there is none.
int lockHolder(int lock) {
    char text[32] = {};
    ssize_t length = pread(lock, text, sizeof text - 1, 0);
    return length > 0 ? std::atoi(text) : 0;
}

void writeLockHolder(int lock) {
    std::string pid = std::to_string(getpid()) + "\n";
    // Only for messages: a lock file that cannot take it still marks the server alive.
    if (ftruncate(lock, 0) == 0) {
        ssize_t written = pwrite(lock, pid.data(), pid.size(), 0);
        (void)written;
    }
}

int newSocket() { return socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }

}  // namespace

StatusOr<std::string> channelSocketPath(const std::string& name) {
    auto refuse = [&](const std::string& why) { return Status::error("channel name \"" + name + "\" " + why); };
    if (name.empty() || name == "." || name == "..") return refuse("is not a file name");
    if (name.find('/') != std::string::npos) return refuse("holds '/'");
    if (name.find('\0') != std::string::npos) return refuse("holds NUL");
    if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".lock") == 0)
        return refuse("ends in \".lock\", which the servers' lock files use");
    if (name.size() > kMaxChannelName) return refuse("is longer than " + std::to_string(kMaxChannelName) + " bytes");
    return device::deviceDirectory() + "/ipc/" + name;
}

Status listenChannel(const std::string& path, Listener& listener) {
    auto failed = [&](const std::string& why) {
        closeListener(listener);
        return Status::error(why);
    };
    listener = {};
    std::string directory = path.substr(0, path.rfind('/'));
    if (Status problem = ensurePrivateDirectory(directory); !problem.ok()) return failed(problem.message());

    std::string lockPath = path + ".lock";
    listener.lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (listener.lock < 0) return failed(describeErrno("cannot open " + lockPath));
    if (flock(listener.lock, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return failed(describeErrno("cannot lock " + lockPath));
        int holder = lockHolder(listener.lock);
        return failed((holder > 0 ? describeProcess(holder) : std::string("another live process")) +
                      " already serves " + path);
    }
    writeLockHolder(listener.lock);

    // Holding the lock, whatever socket is there was left by a server that died.
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) return failed(path + " exists and is not a socket");
        if (unlink(path.c_str()) != 0) return failed(describeErrno("cannot remove the stale socket " + path));
    }

    SocketAddress address;
    if (!address.make(path)) return failed(describeErrno("cannot name the socket " + path));
    listener.socket = newSocket();
    if (listener.socket < 0) return failed(describeErrno("cannot make a socket"));
    if (bind(listener.socket, address.get(), address.size()) != 0) return failed(describeErrno("cannot bind " + path));
    if (chmod(path.c_str(), 0600) != 0) return failed(describeErrno("cannot make " + path + " private"));
    if (listen(listener.socket, kListenBacklog) != 0) return failed(describeErrno("cannot listen on " + path));
    return Status::OK();
}

void closeListener(Listener& listener) {
    if (listener.socket >= 0) close(listener.socket);
    if (listener.lock >= 0) close(listener.lock);
    listener = {};
}

int connectChannel(const std::string& path) {
    SocketAddress address;
    if (!address.make(path)) return -1;
    int fd = newSocket();
    if (fd < 0) return -1;
    if (connect(fd, address.get(), address.size()) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int servingProcess(const std::string& path) {
    int socket = connectChannel(path);
    if (socket < 0) return 0;
    ucred credentials{};
    socklen_t length = sizeof credentials;
    int pid = getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 ? credentials.pid : 0;
    close(socket);
    return pid;
}

std::string describeProcess(int pid) {
    std::string text = "process " + std::to_string(pid);
    FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), "r");
    if (!file) return text;
    char buffer[512];
    size_t length = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    std::string command(buffer, length);
    while (!command.empty() && command.back() == '\0') command.pop_back();
    if (command.empty()) return text;
    size_t programEnd = command.find('\0');
    size_t slash = command.rfind('/', programEnd);  // the program by its name, not its whole path
    if (slash != std::string::npos) command.erase(0, slash + 1);
    for (char& c : command)
        if (c == '\0') c = ' ';
    if (command.size() > 120) command = command.substr(0, 117) + "...";
    return text + " (" + command + ")";
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
