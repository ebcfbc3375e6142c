// The operating-system side of a channel: where its socket lives, serving it and reaching it.
//
// Plain functions over file descriptors, callable from any thread. Every descriptor they make is
// close-on-exec and non-blocking, and every send goes with MSG_NOSIGNAL, so a peer that went away
// gives an error instead of SIGPIPE.
#pragma once

#include <cstddef>
#include <string>

namespace device::ipc {

// The socket path of channel `name`: "<device dir>/ipc/<name>". Returns an empty string for a name
// that cannot be a channel (empty, ".", "..", holding '/' or NUL, ending in ".lock", or a path too
// long for a socket address), with `*error` saying why.
std::string channelSocketPath(const std::string& name, std::string* error);

// A channel being served: the listening socket and the lock file that marks the server alive.
struct Listener {
    int socket = -1;
    int lock = -1;
};

// Serves the channel at `path`: makes the "ipc" directory private (0700), takes the channel's lock
// ("<path>.lock", held for as long as the listener lives, so the kernel frees it when the server
// dies), replaces a socket left by a dead server, binds (socket file 0600) and listens. Returns
// true on success; false with `*error` set and nothing left open when a live server holds the
// channel or a step fails.
bool listenChannel(const std::string& path, Listener& listener, std::string* error);
void closeListener(Listener& listener);

// Connects to the channel at `path` without waiting. Returns the socket, or -1 with errno set
// (ENOENT or ECONNREFUSED: no server; EAGAIN: the server's queue of new connections is full).
int connectChannel(const std::string& path);

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
