#include "ChannelClient.h"

#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <exception>
#include <vector>

#include "../activity/ProcessActivity.h"
#include "ChannelFrame.h"
#include "ChannelSocket.h"

namespace device::ipc {

struct ChannelClient::Connection {
    Connection(int socket, uint64_t generation) : socket(socket), generation(generation) {}
    ~Connection() { close(socket); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    const int socket;
    const uint64_t generation;  // which connection of this client it is, counting from 1
};

namespace {

// Each calling thread encodes into its own buffer, so a send allocates nothing once warmed up.
std::string& frameBuffer() {
    thread_local std::string buffer;
    return buffer;
}

}  // namespace

ChannelClient::ChannelClient(std::string name) : name_(std::move(name)) {}

ChannelClient::~ChannelClient() {
    std::unordered_map<uint32_t, Pending> released;
    device::IoSequence* replies;
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
        replies = replies_.get();
    }
    if (replies) replies->stop();
    std::lock_guard lock(lock_);
    released.swap(pending_);
}

void ChannelClient::reportOnce(std::atomic<bool>& flag, const std::string& message) {
    if (!flag.exchange(true, std::memory_order_relaxed)) reportProblem(message);
}

bool ChannelClient::encodeOrReport(FrameKind kind, uint32_t callId, std::string_view selector, id argument,
                                   std::string& frame) {
    Status encoded = encodeCall(kind, callId, currentFrameOrigin().nanos, selector, argument, frame);
    if (encoded.ok()) return true;
    reportOnce(reportedFrame_,
               "a call of " + std::string(selector) + " on " + name_ + " was dropped: " + encoded.message());
    return false;
}

std::shared_ptr<ChannelClient::Connection> ChannelClient::connectionLocked() {
    if (connection_ || stopping_) return connection_;
    StatusOr<std::string> path = channelSocketPath(name_);
    if (!path.ok()) {
        reportOnce(reportedName_, path.status().message() + "; calls on it are dropped");
        return nullptr;
    }
    int socket = connectChannel(*path);
    if (socket < 0) return nullptr;  // no server (yet): the call is lost, the next one tries again
    connection_ = std::make_shared<Connection>(socket, ++generation_);
    if (replies_) replies_->postTask([this] { followConnection(); });
    return connection_;
}

bool ChannelClient::startRepliesLocked() {
    if (replies_) return true;
    StatusOr<std::unique_ptr<device::IoSequence>> made = device::IoSequence::make();
    if (!made.ok()) {
        reportOnce(reportedReplies_, "replies on " + name_ + " cannot be waited for (" + made.status().message() +
                                         "); calls that expect one are dropped");
        return false;
    }
    replies_ = std::move(*made);
    replies_->postTask([this] {
        replyBuffer_ = std::make_unique<unsigned char[]>(kMaxFrameSize);
        followConnection();
    });
    return true;
}

void ChannelClient::retire(const std::shared_ptr<Connection>& connection) {
    std::lock_guard lock(lock_);
    if (connection_ == connection) connection_.reset();
    // The reply sequence still reads what arrived before; then it releases the calls left waiting.
    shutdown(connection->socket, SHUT_RDWR);
}

void ChannelClient::callVoid(std::string_view selector, id argument) {
    bool sent = sendVoid(selector, argument);
    (sent ? sentFireAndForget_ : dropped_).fetch_add(1, std::memory_order_relaxed);
    countActivity(sent ? Activity::callsSentFireAndForget : Activity::callsDropped);
}

ChannelClient::Tally ChannelClient::tally() const {
    return {sentFireAndForget_.load(std::memory_order_relaxed), sentAcknowledged_.load(std::memory_order_relaxed),
            answered_.load(std::memory_order_relaxed), dropped_.load(std::memory_order_relaxed)};
}

bool ChannelClient::sendVoid(std::string_view selector, id argument) {
    std::string& frame = frameBuffer();
    if (!encodeOrReport(FrameKind::voidCall, 0, selector, argument, frame)) return false;
    // A second attempt on a fresh connection, for when the server was restarted since the last call.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::shared_ptr<Connection> connection;
        {
            std::lock_guard lock(lock_);
            connection = connectionLocked();
        }
        if (!connection) return false;
        SendResult result = sendFrame(connection->socket, frame);
        if (result != SendResult::broken) return result == SendResult::sent;  // a full socket drops it
        retire(connection);
    }
    return false;
}

void ChannelClient::callAcknowledged(std::string_view selector, id argument, Strong<Completion> completion) {
    bool sent = sendAcknowledged(selector, argument, std::move(completion));
    (sent ? sentAcknowledged_ : dropped_).fetch_add(1, std::memory_order_relaxed);
    countActivity(sent ? Activity::callsSentAcknowledged : Activity::callsDropped);
}

bool ChannelClient::sendAcknowledged(std::string_view selector, id argument, Strong<Completion> completion) {
    uint32_t callId;
    {
        std::lock_guard lock(lock_);
        callId = nextCallId_++;
        if (nextCallId_ == 0) nextCallId_ = 1;
    }
    std::string& frame = frameBuffer();
    if (!encodeOrReport(FrameKind::acknowledgedCall, callId, selector, argument, frame)) return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::shared_ptr<Connection> connection;
        {
            std::lock_guard lock(lock_);
            connection = connectionLocked();
            if (!connection) return false;
            if (pending_.size() >= kMaxPendingCalls) {
                reportOnce(reportedPending_, std::to_string(kMaxPendingCalls) + " calls on " + name_ +
                                                 " wait for replies; further calls are dropped");
                return false;
            }
            if (!startRepliesLocked()) return false;
            // Registered before sending, so the reply cannot arrive first.
            if (!pending_.emplace(callId, Pending{completion, connection->generation}).second) return false;
        }
        SendResult result = sendFrame(connection->socket, frame);
        if (result == SendResult::sent) return true;
        Strong<Completion> unsent;  // released after the lock is let go: a block may do anything
        {
            std::lock_guard lock(lock_);
            if (auto found = pending_.find(callId); found != pending_.end()) {
                unsent = std::move(found->second.completion);
                pending_.erase(found);
            }
        }
        if (result == SendResult::wouldBlock) return false;
        retire(connection);
    }
    return false;
}

void ChannelClient::followConnection() {
    repliesChecker_.check("the reply sequence of a channel client");
    std::vector<Strong<Completion>> released;  // let go after the lock: a block may do anything
    {
        std::lock_guard lock(lock_);
        if (followed_ || !connection_) return;  // the one followed is read to its end first
        followed_ = connection_;
        // Calls on connections made and lost before the sequence came to them can get no reply.
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (it->second.generation < followed_->generation) {
                released.push_back(std::move(it->second.completion));
                it = pending_.erase(it);
            } else {
                ++it;
            }
        }
    }
    followedWatch_ =
        replies_->watch(followed_->socket, device::IoSequence::Readiness::readable, [this] { readReplies(); });
}

void ChannelClient::endConnection() {
    repliesChecker_.check("the reply sequence of a channel client");
    followedWatch_.cancel();
    std::shared_ptr<Connection> ended = std::move(followed_);
    retire(ended);
    std::vector<Strong<Completion>> released;
    {
        std::lock_guard lock(lock_);
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (it->second.generation <= ended->generation) {
                released.push_back(std::move(it->second.completion));
                it = pending_.erase(it);
            } else {
                ++it;
            }
        }
    }
    released.clear();
    followConnection();  // one made meanwhile
}

void ChannelClient::readReplies() {
    repliesChecker_.check("the reply sequence of a channel client");
    const std::shared_ptr<Connection> connection = followed_;
    unsigned char* buffer = replyBuffer_.get();
    while (true) {
        long length = receiveFrame(connection->socket, buffer, kMaxFrameSize);
        if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // until more arrives
        if (length <= 0) break;  // the server went away, or the connection was retired
        Frame frame;
        Status decoded = static_cast<size_t>(length) > kMaxFrameSize
                             ? Status::OK()  // too long to decode: refused below without a reason
                             : decodeFrame(buffer, static_cast<size_t>(length), frame);
        if (static_cast<size_t>(length) > kMaxFrameSize || !decoded.ok() || frame.kind != FrameKind::reply) {
            reportProblem("dropped the connection to " + name_ + ": the server sent a bad reply" +
                          (decoded.ok() ? std::string() : ": " + decoded.message()));
            break;
        }
        Strong<Completion> completion;
        {
            std::lock_guard lock(lock_);
            auto found = pending_.find(frame.callId);
            if (found != pending_.end() && found->second.generation == connection->generation) {
                completion = std::move(found->second.completion);
                pending_.erase(found);
            }
        }
        if (!completion) continue;  // a reply to a call that was given up
        answered_.fetch_add(1, std::memory_order_relaxed);
        try {
            (*completion)(frame.value.get());
        } catch (const std::exception& exception) {
            reportProblem("a completion of a call on " + name_ + " threw: " + exception.what());
        } catch (...) {
            reportProblem("a completion of a call on " + name_ + " threw");
        }
    }
    endConnection();
}

}  // namespace device::ipc
