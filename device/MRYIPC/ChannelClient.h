// ChannelClient: the calling end of one channel in one process.
//
// The connection is made on the first call and made again after the server went away, so a server
// that comes up later is reached by the next call. No call ever waits: frames are sent without
// blocking and dropped when they cannot be sent at once. Replies to acknowledged calls are read on
// an IO sequence of the client's own (base/IoSequence.h), started with the first acknowledged call,
// which runs each completion exactly once. A call whose connection is lost before its reply arrives
// is forgotten: its completion is released, never called. At most kMaxPendingCalls wait for
// replies; calls beyond are dropped, and so are acknowledged calls while the sequence cannot be
// started (the process has no descriptor left for it; the next such call tries again).
//
// Each call carries the calling thread's frame origin (activity/FrameOrigin.h), and is counted in
// the process's activity as sent (by kind) or dropped.
//
// All methods may be called from any thread; sends from several threads go out side by side.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "../Foundation/Foundation.h"

#include "../base/IoSequence.h"
#include "../base/SequenceChecker.h"
#include "ChannelFrame.h"

namespace device::ipc {

inline constexpr size_t kMaxPendingCalls = 4096;

class ChannelClient {
public:
    using Completion = Block<void(id)>;

    explicit ChannelClient(std::string name);
    // Ends the reply sequence (waiting for a completion that is running) and releases every
    // pending completion without calling it. Must not run on the reply sequence.
    ~ChannelClient();
    ChannelClient(const ChannelClient&) = delete;
    ChannelClient& operator=(const ChannelClient&) = delete;

    // Sends a call that expects no reply; dropped when it cannot be sent at once.
    void callVoid(std::string_view selector, id argument);
    // Sends a call whose reply goes to `completion` (retained until it has run or is released).
    void callAcknowledged(std::string_view selector, id argument, Strong<Completion> completion);

    // What became of this client's calls so far.
    struct Tally {
        uint64_t sentFireAndForget = 0;  // handed to the server's socket
        uint64_t sentAcknowledged = 0;
        uint64_t answered = 0;  // acknowledged calls whose reply came back
        uint64_t dropped = 0;   // could not be sent
    };
    Tally tally() const;

private:
    struct Connection;
    struct Pending {
        Strong<Completion> completion;
        uint64_t generation;
    };

    // The sends themselves; true when the call went out.
    bool sendVoid(std::string_view selector, id argument);
    bool sendAcknowledged(std::string_view selector, id argument, Strong<Completion> completion);
    // Encodes the call into `frame`; false, with the problem reported once, when it cannot travel.
    bool encodeOrReport(FrameKind kind, uint32_t callId, std::string_view selector, id argument, std::string& frame);
    // The current connection, made now if there is none; nullptr when no server can be reached.
    std::shared_ptr<Connection> connectionLocked();
    // Starts the reply sequence unless it runs; false, with the problem reported once, when it
    // cannot be started.
    bool startRepliesLocked();
    // Forgets `connection` if it is still current and releases the calls made on it.
    void retire(const std::shared_ptr<Connection>& connection);
    // On the reply sequence: reads the replies of the current connection, once the one read before
    // has ended; its calls made on connections lost meanwhile are released.
    void followConnection();
    // On the reply sequence: runs the completions of the replies that arrived, until none is left
    // or the connection has ended.
    void readReplies();
    // On the reply sequence: the connection followed has ended; releases its calls.
    void endConnection();
    // Reports a problem of this channel once for each distinct `flag`.
    void reportOnce(std::atomic<bool>& flag, const std::string& message);

    const std::string name_;
    std::atomic<uint64_t> sentFireAndForget_{0}, sentAcknowledged_{0}, answered_{0}, dropped_{0};
    std::atomic<bool> reportedName_{false}, reportedFrame_{false}, reportedPending_{false}, reportedReplies_{false};

    std::mutex lock_;  // guards what follows
    std::shared_ptr<Connection> connection_;
    uint64_t generation_ = 0;
    uint32_t nextCallId_ = 1;
    std::unordered_map<uint32_t, Pending> pending_;
    bool stopping_ = false;
    // Told of each connection made; made once, and kept until the client goes.
    std::unique_ptr<device::IoSequence> replies_;

    // The reply sequence only.
    device::SequenceChecker repliesChecker_;
    std::shared_ptr<Connection> followed_;  // the connection whose replies are read
    device::IoSequence::Watch followedWatch_;
    std::unique_ptr<unsigned char[]> replyBuffer_;
};

}  // namespace device::ipc
