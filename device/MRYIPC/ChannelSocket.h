// The operating-system side of a channel: where its socket lives, serving it and reaching it.
//
// Plain functions over file descriptors, callable from any thread. Every descriptor they make is
// close-on-exec and non-blocking, and every send goes with MSG_NOSIGNAL, so a peer that went away
// gives an error instead of SIGPIPE.
#pragma once

#include <cstddef>
#include <string>

#include "../base/StatusOr.h"

namespace device::ipc {

// The longest channel name: a socket is reached through its directory (see connectChannel), so only
// the name itself must fit a socket address, whatever the length of the device directory's path.
inline constexpr size_t kMaxChannelName = 80;

// The socket path of channel `name`: "<device dir>/ipc/<name>"; an error saying why for a name that
// cannot be a channel (empty, ".", "..", holding '/' or NUL, ending in ".lock", or longer than
// kMaxChannelName).
StatusOr<std::string> channelSocketPath(const std::string& name);

// A channel being served: the listening socket and the lock file that marks the server alive.
struct Listener {
    int socket = -1;
    int lock = -1;
};

// Serves the channel at `path`: makes the "ipc" directory private (0700), takes the channel's lock
// ("<path>.lock", held for as long as the listener lives, so the kernel frees it when the server
// dies) and writes this process's id into it, replaces a socket left by a dead server, binds
// (socket file 0600) and listens. An error, with nothing left open, when a live server holds the
// channel (the error names it) or a step fails.
Status listenChannel(const std::string& path, Listener& listener);
void closeListener(Listener& listener);

// Connects to the channel at `path` without waiting. Returns the socket, or -1 with errno set
// (ENOENT or ECONNREFUSED: no server; EAGAIN: the server's queue of new connections is full). A
// path too long for a socket address is reached through its directory, as binding does.
int connectChannel(const std::string& path);

// The process that serves the channel at `path` now, found by connecting to it (the connection is
// closed at once); 0 when none answers.
int servingProcess(const std::string& path);

// "process 1234 (glimmora springboard)": a process by its id and command line, for messages.
std::string describeProcess(int pid);

// Accepts one pending connection; -1 with errno set when there is none or it failed.
int acceptConnection(int listening);

// True when the process at the other end of `socket` runs as this process's user.
bool peerIsSameUser(int socket);

enum class SendResult { sent, wouldBlock, broken };
// Sends one datagram without waiting. `wouldBlock`: the socket is full; `broken`: the connection
// is gone (or the datagram can never be sent on it).
SendResult sendFrame(int socket, const std::string& frame);

// Receives one datagram into `buffer` (of `capacity` bytes). Returns its full length, which is more
// than `capacity` when it was cut off; 0 when the peer has gone (or sent an empty datagram, which
// no frame is); -1 with errno EAGAIN when nothing is waiting, or on another error.
long receiveFrame(int socket, unsigned char* buffer, size_t capacity);

// Writes `message` as one line to standard error, prefixed with the library's name.
void reportProblem(const std::string& message);

}  // namespace device::ipc
