// ChannelServer: the serving end of one channel.
//
// Two threads of its own, a task runner's, started when the channel is first served, share one
// poll pump and one serial delivery queue. The thread at the pump accepts clients, reads and checks
// their frames, puts the calls in the queue and closes any connection that misbehaves; when it has
// read a call and no call is being delivered, it delivers the calls itself, one at a time and in
// arrival order, sending the replies, and then goes back to the pump. So a call is not passed
// between threads on its way. A target may block its thread for as long as it likes: within a
// short while a timer wakes the other thread, which takes the pump over, and once kMaxQueuedCalls
// calls wait, it stops reading, so the clients' sockets fill and their calls are dropped instead
// of piling up. Clients are read in turn, each turn starting after the last client read in the one
// before, so a client that floods the channel takes no more than its share of the queue.
//
// Limits: kMaxClients connections, peers of this user only, frames as ChannelFrame.h bounds them.
// When a new client finds every place taken, the client that has sent nothing for longest makes
// room if it has been quiet for kIdleAllowance; otherwise the new one is closed at once. A reply is
// never waited for: a client whose socket cannot take its reply at once is closed, so no client can
// hold up another's calls. Problems are reported at a bounded rate for as long as they happen.
// All methods may be called from any thread.
#pragma once

#include <poll.h>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "../Foundation/Foundation.h"

#include "../base/DelayedQueue.h"
#include "../base/MessagePump.h"
#include "../base/PollTimer.h"
#include "../base/TaskRunner.h"
#include "ChannelFrame.h"
#include "ChannelSocket.h"

namespace device::ipc {

inline constexpr size_t kMaxClients = 64;
inline constexpr size_t kMaxQueuedCalls = 64;
inline constexpr std::chrono::seconds kIdleAllowance{2};

class ChannelServer {
public:
    ChannelServer() = default;
    // Stops both threads; waits for a call being delivered to return. Not from a target's method.
    ~ChannelServer();
    ChannelServer(const ChannelServer&) = delete;
    ChannelServer& operator=(const ChannelServer&) = delete;

    // Routes calls of `action` to `target` (retained; replaces an earlier target of that action).
    void setTarget(id target, SEL action);

    // Serves the channel at `path` unless it already does. An error when the channel cannot be
    // served (another live server holds it, or the socket cannot be made); a later call tries again.
    Status serve(const std::string& path);

private:
    struct Connection;
    struct Call {
        std::shared_ptr<Connection> connection;
        Frame frame;
    };
    struct Action {
        Strong<NSObject> target;
        SEL selector = nullptr;
    };

    void workerLoop();
    // One turn at the pump: waits for the sockets, accepts, reads and queues calls.
    void pollOnce();
    // Delivers the queued calls until none is left (or the server stops).
    void deliverQueued();
    // The standby's wait: until the take-over timer fires (or the server stops); then it finds out
    // whether the delivery the timer was armed for still runs.
    void waitForTimer();
    void acceptClients();
    // Closes the client quiet for longest if it has been quiet for kIdleAllowance; true when it did.
    bool dropIdleClient();
    // Reads what `connection` has sent, setting `*readAny` when a call was queued; false when the
    // connection must be closed.
    bool readFrames(Connection& connection, const std::shared_ptr<Connection>& shared, bool* readAny);
    void deliver(Call& call);
    void sendReply(Connection& connection, uint32_t callId, id reply);

    std::mutex serveLock_;  // serializes serve()
    std::string path_;
    Listener listener_;
    static constexpr int kWorkers = 2;
    std::unique_ptr<TaskRunner> workers_;  // each of its threads runs workerLoop

    std::mutex actionsLock_;
    std::unordered_map<std::string, Action> actions_;  // by selector name

    std::unique_ptr<PollPump> pump_;            // where the thread at the pump waits
    std::unique_ptr<PollPump> standbyPump_;     // where the other thread waits for the timer
    std::unique_ptr<PollTimer> takeOverTimer_;  // runs while deliveries leave the pump unwatched
    // Used only by the thread at the pump.
    std::vector<std::shared_ptr<Connection>> clients_;
    std::vector<pollfd> polled_;
    std::unique_ptr<unsigned char[]> buffer_;

    std::mutex stateLock_;  // guards what follows
    DelayedQueue<Call> queue_;
    bool pumpTaken_ = false, delivering_ = false, stopping_ = false;
    uint64_t deliveriesStarted_ = 0;  // numbers the deliveries
    bool timerArmed_ = false;
    uint64_t armedForDelivery_ = 0;  // the delivery that was running when the timer was armed
    bool overrun_ = false;           // that delivery still ran when the timer fired: the standby keeps the pump until
                                     // the queue has been delivered
};

}  // namespace device::ipc
