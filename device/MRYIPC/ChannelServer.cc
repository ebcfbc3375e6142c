#include "ChannelServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "../activity/ProcessActivity.h"
#include "ChannelDelivery.h"
#include "ReportLimiter.h"

namespace device::ipc {

namespace {

constexpr int kFramesPerTurn = 16;  // so one busy client cannot starve the others
constexpr int kReportBurst = 10;
// How long a delivery may keep its thread before the standby takes over watching the connections.
constexpr auto kTakeOverAfter = std::chrono::milliseconds(50);
constexpr auto kReportInterval = std::chrono::seconds(1);

// Problems are reported for as long as they happen, but a client that misbehaves in a loop must not
// flood the log.
void reportLimited(const std::string& message) {
    static auto* limiter = new ReportLimiter(kReportBurst, kReportInterval);  // outlives the workers
    uint64_t leftOut = 0;
    if (!limiter->admit(ReportLimiter::Clock::now(), &leftOut)) return;
    reportProblem(message + (leftOut ? " (" + std::to_string(leftOut) + " similar reports left out before this)" : ""));
}

}  // namespace

struct ChannelServer::Connection {
    explicit Connection(int socket) : socket(socket), lastHeard(std::chrono::steady_clock::now()) {}
    ~Connection() { close(socket); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    // The socket is closed only when the last queued call for it has gone, so a late reply can never
    // reach a descriptor that was reused meanwhile.
    const int socket;
    // When the client last sent a frame (or connected). Only the thread at the pump uses it.
    std::chrono::steady_clock::time_point lastHeard;
};

ChannelServer::~ChannelServer() {
    {
        std::lock_guard lock(stateLock_);
        stopping_ = true;
    }
    if (pump_) pump_->wake();
    if (standbyPump_) standbyPump_->wake();
    workers_.reset();  // once both loops have returned
    for (auto& client : clients_) shutdown(client->socket, SHUT_RDWR);
    if (listener_.socket >= 0) unlink(path_.c_str());  // still ours: the lock is held until closed
    closeListener(listener_);
}

void ChannelServer::setTarget(id target, SEL action) {
    std::lock_guard lock(actionsLock_);
    actions_[sel_getName(action)] = Action{Strong<NSObject>(target), action};
}

Status ChannelServer::serve(const std::string& path) {
    std::lock_guard lock(serveLock_);
    if (listener_.socket >= 0) return Status::OK();
    if (Status listening = listenChannel(path, listener_); !listening.ok()) return listening;
    StatusOr<std::unique_ptr<PollPump>> pump = PollPump::make();
    StatusOr<std::unique_ptr<PollPump>> standbyPump = PollPump::make();
    auto takeOverTimer = std::make_unique<PollTimer>();
    for (const Status* made : {&pump.status(), &standbyPump.status(), &takeOverTimer->status()}) {
        if (made->ok()) continue;
        unlink(path.c_str());
        closeListener(listener_);
        return *made;
    }
    pump_ = std::move(*pump);
    standbyPump_ = std::move(*standbyPump);
    takeOverTimer_ = std::move(takeOverTimer);
    path_ = path;
    buffer_ = std::make_unique<unsigned char[]>(kMaxFrameSize);
    // Each loop keeps a thread of the runner for as long as the server serves.
    workers_ = std::make_unique<TaskRunner>(kWorkers);
    for (int i = 0; i < kWorkers; ++i) workers_->postTask([this] { workerLoop(); });
    return Status::OK();
}

// Both threads run this. The thread that takes the free pump watches the connections and reads
// the calls; when it has read a call and none is being delivered, it leaves the pump and delivers,
// and once done takes the pump again, so a call is not passed between threads on its way and the
// other thread, the standby, is not woken. While calls are delivered with the pump left alone, the
// take-over timer runs: when it fires and the delivery it was armed for is still running, a target
// has kept its thread for kTakeOverAfter or more, and the standby takes the pump and keeps it, going
// on watching the connections, until the queue has been delivered. Only one thread delivers at a time, so calls reach
// their targets in the order they were read.
void ChannelServer::workerLoop() {
    std::unique_lock lock(stateLock_);
    while (!stopping_) {
        if (pumpTaken_ || (delivering_ && !overrun_)) {
            lock.unlock();
            waitForTimer();
            lock.lock();
            continue;
        }
        pumpTaken_ = true;
        lock.unlock();
        pollOnce();
        lock.lock();
        pumpTaken_ = false;
        if (delivering_ || queue_.empty()) continue;
        delivering_ = true;
        lock.unlock();
        deliverQueued();
        lock.lock();
    }
}

void ChannelServer::waitForTimer() {
    std::vector<pollfd> timer{takeOverTimer_->watched()};
    standbyPump_->waitUntil(timer, SteadyClock::time_point::max());
    if (timer[0].revents == 0) return;
    takeOverTimer_->clear();
    bool armAgain;
    {
        std::lock_guard lock(stateLock_);
        timerArmed_ = false;
        bool unwatched = delivering_ && !pumpTaken_;
        if (unwatched && deliveriesStarted_ == armedForDelivery_) overrun_ = true;
        // A later delivery runs unwatched: the timer now stands guard over that one.
        armAgain = unwatched && !overrun_;
        if (armAgain) {
            timerArmed_ = true;
            armedForDelivery_ = deliveriesStarted_;
        }
    }
    if (armAgain) takeOverTimer_->armAfter(kTakeOverAfter);
}

void ChannelServer::deliverQueued() {
    while (true) {
        std::optional<Call> call;
        bool wasFull, arm = false;
        {
            std::lock_guard lock(stateLock_);
            call = stopping_ ? std::nullopt : queue_.popDue(SteadyClock::time_point::max());
            if (!call) {
                delivering_ = false;
                overrun_ = false;
                return;
            }
            wasFull = queue_.size() + 1 >= kMaxQueuedCalls;
            ++deliveriesStarted_;
            // Armed once for a run of calls, not for each: arming costs a system call.
            if (!pumpTaken_ && !timerArmed_) {
                arm = timerArmed_ = true;
                armedForDelivery_ = deliveriesStarted_;
            }
        }
        if (wasFull) pump_->wake();  // the clients were left unread; there is room again
        if (arm) takeOverTimer_->armAfter(kTakeOverAfter);
        deliver(*call);
        call.reset();  // released here, not under the lock: a value may do anything when it goes
    }
}

void ChannelServer::pollOnce() {
    bool full;
    {
        std::lock_guard lock(stateLock_);
        full = queue_.size() >= kMaxQueuedCalls;
    }
    // While the queue is full the clients are left out of the poll altogether (not just their
    // input), so a client that hung up meanwhile cannot make the poll spin.
    polled_.clear();
    polled_.push_back({listener_.socket, POLLIN, 0});
    for (auto& client : clients_) polled_.push_back({full ? -1 : client->socket, POLLIN, 0});
    pump_->waitUntil(polled_, SteadyClock::time_point::max());

    std::vector<std::shared_ptr<Connection>> kept;
    kept.reserve(clients_.size());
    size_t nextFirst = 0;  // in `kept`: the client to read first next turn
    for (size_t i = 0; i < clients_.size(); ++i) {
        bool readAny = false;
        if (polled_[i + 1].revents == 0 || readFrames(*clients_[i], clients_[i], &readAny)) {
            kept.push_back(std::move(clients_[i]));
            if (readAny) nextFirst = kept.size();
        } else {
            // Wakes the client at once even while a queued call still holds the socket open.
            shutdown(clients_[i]->socket, SHUT_RDWR);
        }
    }
    // Once the queue is full, each delivery frees one place, and the first client read takes it.
    // Were that always the same one, a client that floods would keep every later one out; so the
    // next turn starts after the last client read this turn.
    std::rotate(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(nextFirst), kept.end());
    clients_ = std::move(kept);
    if (polled_[0].revents) acceptClients();
}

void ChannelServer::acceptClients() {
    while (true) {
        int socket = acceptConnection(listener_.socket);
        if (socket < 0) {
            if (errno == EINTR) continue;
            if (errno == EMFILE || errno == ENFILE) {
                // The connection stays queued and the listener readable: pause rather than spin.
                reportLimited("out of file descriptors; new clients wait");
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            return;
        }
        if (!peerIsSameUser(socket)) {
            reportLimited("refused a client of another user on " + path_);
            close(socket);
        } else if (clients_.size() >= kMaxClients && !dropIdleClient()) {
            reportLimited("refused a client of " + path_ + ": already " + std::to_string(kMaxClients) + " clients");
            close(socket);
        } else {
            clients_.push_back(std::make_shared<Connection>(socket));
        }
    }
}

bool ChannelServer::dropIdleClient() {
    auto idlest = std::min_element(clients_.begin(), clients_.end(),
                                   [](const auto& a, const auto& b) { return a->lastHeard < b->lastHeard; });
    if (idlest == clients_.end()) return false;
    auto now = std::chrono::steady_clock::now();
    auto idle = now - (*idlest)->lastHeard;
    if (idle < kIdleAllowance) return false;
    // While the queue is full no client is read; one whose calls wait unread is not idle.
    char byte;
    if (recv((*idlest)->socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0) {
        (*idlest)->lastHeard = now;
        return false;
    }
    reportLimited("closed a client of " + path_ + " that had sent nothing for " +
                  std::to_string(std::chrono::duration_cast<std::chrono::seconds>(idle).count()) +
                  " s, to make room for a new one");
    shutdown((*idlest)->socket, SHUT_RDWR);
    clients_.erase(idlest);
    return true;
}

bool ChannelServer::readFrames(Connection& connection, const std::shared_ptr<Connection>& shared, bool* readAny) {
    for (int turn = 0; turn < kFramesPerTurn; ++turn) {
        {
            std::lock_guard lock(stateLock_);
            if (queue_.size() >= kMaxQueuedCalls) return true;
        }
        long length = receiveFrame(connection.socket, buffer_.get(), kMaxFrameSize);
        if (length < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        if (length == 0) return false;  // the client has gone
        connection.lastHeard = std::chrono::steady_clock::now();
        if (static_cast<size_t>(length) > kMaxFrameSize) {
            reportLimited("closed a client of " + path_ + " that sent a frame of " + std::to_string(length) +
                          " bytes (at most " + std::to_string(kMaxFrameSize) + ")");
            return false;
        }
        Call call{shared, {}};
        if (Status decoded = decodeFrame(buffer_.get(), static_cast<size_t>(length), call.frame); !decoded.ok()) {
            reportLimited("closed a client of " + path_ + " that sent a bad frame: " + decoded.message());
            return false;
        }
        if (call.frame.kind == FrameKind::reply) {
            reportLimited("closed a client of " + path_ + " that sent a reply");
            return false;
        }
        std::lock_guard lock(stateLock_);
        queue_.push(SteadyClock::now(), std::move(call));
        *readAny = true;
    }
    return true;
}

void ChannelServer::deliver(Call& call) {
    Action action;
    {
        std::lock_guard lock(actionsLock_);
        auto found = actions_.find(call.frame.selector);
        if (found != actions_.end()) action = found->second;
    }
    const bool acknowledged = call.frame.kind == FrameKind::acknowledgedCall;
    countActivity(acknowledged ? Activity::callsReceivedAcknowledged : Activity::callsReceivedFireAndForget);
    if (auto* text = objc_cast<NSString>(call.frame.value.get())) recordCallReceived(text->UTF8String());
    Strong<NSObject> reply;
    if (action.target) {
        // The target's work, and whatever it hands on, is on behalf of the caller's frame.
        FrameOriginScope origin({call.frame.origin, acknowledged ? CallKind::acknowledged : CallKind::fireAndForget});
        StatusOr<Strong<NSObject>> delivered = deliverCall(action.target, action.selector, call.frame.value);
        if (delivered.ok())
            reply = *std::move(delivered);
        else
            reportLimited(delivered.status().message());
    }
    if (call.frame.kind == FrameKind::acknowledgedCall) sendReply(*call.connection, call.frame.callId, reply);
}

void ChannelServer::sendReply(Connection& connection, uint32_t callId, id reply) {
    std::string frame;
    if (Status encoded = encodeReply(callId, reply, frame); !encoded.ok()) {
        reportLimited("the reply to a call on " + path_ + " cannot travel (" + encoded.message() + "); replying nil");
        (void)encodeReply(callId, nil, frame);  // a nil reply always travels
    }
    // Never waits for room: a client that does not read its replies must not hold up the delivery
    // of every other client's calls, so it is closed at once.
    if (sendFrame(connection.socket, frame) == SendResult::wouldBlock) {
        reportLimited("closed a client of " + path_ + " that does not read its replies");
        shutdown(connection.socket, SHUT_RDWR);
    }
}

}  // namespace device::ipc
