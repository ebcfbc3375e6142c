// ChannelClient: the calling end of one channel in one process.
//
// The connection is made on the first call and made again after the server went away, so a server
// that comes up later is reached by the next call. No call ever waits: frames are sent without
// blocking and dropped when they cannot be sent at once. Replies to acknowledged calls are read by
// one thread of the client's own, started with the first acknowledged call, which runs each
// completion exactly once. A call whose connection is lost before its reply arrives is forgotten:
// its completion is released, never called. At most kMaxPendingCalls wait for replies; calls beyond
// are dropped.
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
#include <thread>
#include <unordered_map>

#include "../Foundation/Foundation.h"

#include "../base/MessagePump.h"
#include "ChannelFrame.h"

namespace device::ipc {

inline constexpr size_t kMaxPendingCalls = 4096;

class ChannelClient {
public:
    using Completion = Block<void(id)>;

    explicit ChannelClient(std::string name);
    // Stops the reply thread (waiting for a completion that is running) and releases every
    // pending completion without calling it. Must not run on the reply thread.
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
    // Forgets `connection` if it is still current and releases the calls made on it.
    void retire(const std::shared_ptr<Connection>& connection);
    void replyLoop();
    // How long the reply thread may wait: for ever, unless the pump could not get its eventfd (no
    // descriptors were left); then it cannot be woken and looks again every 50 ms.
    device::SteadyClock::time_point replyWaitLimit() const;
    void readReplies(const std::shared_ptr<Connection>& connection, unsigned char* buffer);
    // Reports a problem of this channel once for each distinct `flag`.
    void reportOnce(std::atomic<bool>& flag, const std::string& message);

    const std::string name_;
    std::atomic<uint64_t> sentFireAndForget_{0}, sentAcknowledged_{0}, answered_{0}, dropped_{0};
    std::atomic<bool> reportedName_{false}, reportedFrame_{false}, reportedPending_{false};

    // The reply thread waits here for a connection, and then for its replies; woken when a
    // connection is made and when the client goes.
    device::PollPump replyPump_;
    std::mutex lock_;  // guards everything below
    std::shared_ptr<Connection> connection_;
    uint64_t generation_ = 0;
    uint32_t nextCallId_ = 1;
    std::unordered_map<uint32_t, Pending> pending_;
    std::thread replyThread_;
    bool stopping_ = false;
};

}  // namespace device::ipc
