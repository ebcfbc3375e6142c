#include "AccessoryClient.h"

#include <deque>
#include <mutex>
#include <thread>

#include "../base/MessagePump.h"
#include "CharacteristicsJson.h"
#include "Session.h"

namespace device::hap {

namespace {

struct PendingWrite {
    std::vector<CharacteristicWrite> writes;
    AccessoryClient::WriteDone done;
};

bool sameCharacteristic(const CharacteristicWrite& a, const CharacteristicWrite& b) {
    return a.aid == b.aid && a.iid == b.iid;
}

}  // namespace

class AccessoryClient::Worker {
public:
    Worker(Endpoint endpoint, ControllerIdentity controller, AccessoryPairing accessory,
           std::vector<CharacteristicRef> subscribe, Callbacks callbacks, Options options)
        : endpoint_(std::move(endpoint)),
          controller_(std::move(controller)),
          accessory_(std::move(accessory)),
          subscribe_(std::move(subscribe)),
          callbacks_(std::move(callbacks)),
          options_(options),
          thread_(pump_.status().ok() ? std::thread([this] { run(); }) : std::thread()) {
        if (!thread_.joinable()) reportReachability(false, startProblem());
    }

    ~Worker() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(lock_);
            stopping_ = true;
        }
        pump_.wake();
        thread_.join();
    }

    void write(std::vector<CharacteristicWrite> writes, WriteDone done) {
        if (!thread_.joinable()) return done(startProblem(), {});
        {
            std::lock_guard lock(lock_);
            queue_.push_back({std::move(writes), std::move(done)});
        }
        pump_.wake();
    }

    void connect() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(lock_);
            connectWanted_ = true;
        }
        pump_.wake();
    }

    const Endpoint& endpoint() const { return endpoint_; }

private:
    // Why there is no thread: one that could never be woken could never be told to stop either.
    Status startProblem() const {
        return Status::error("The client of the accessory at " + endpoint_.text() +
                             " cannot wait for work: " + pump_.status().message() + ".");
    }

    void run() {
        for (;;) {
            bool stopping, connectWanted, writesWaiting;
            {
                std::lock_guard lock(lock_);
                stopping = stopping_;
                connectWanted = connectWanted_;
                connectWanted_ = false;
                writesWaiting = !queue_.empty();
            }
            if (stopping) break;
            // After a failure only the backoff decides when to dial again; until then writes fail at
            // once with the last reason.
            bool dialDue = !retryAt_ || SteadyClock::now() >= *retryAt_;
            if (!session_ && dialDue && (connectWanted || writesWaiting || retryAt_)) openSession();
            if (writesWaiting && session_)
                sendWrites();
            else if (writesWaiting)
                failQueued(lastProblem_);

            std::vector<pollfd> watched;
            if (session_) watched.push_back({session_->descriptor(), POLLIN, 0});
            {
                std::lock_guard lock(lock_);
                if (stopping_ || connectWanted_ || !queue_.empty()) continue;
            }
            auto deadline = session_ || !retryAt_ ? SteadyClock::time_point::max() : *retryAt_;
            pump_.waitUntil(watched, deadline);
            if (session_ && !watched.empty() && watched[0].revents) {
                Status read = session_->readPendingEvents();
                if (!read.ok()) dropSession(read);
            }
        }
        session_.reset();
        std::deque<PendingWrite> left;
        {
            std::lock_guard lock(lock_);
            left.swap(queue_);
        }
        Status closing = Status::error("The connection to the accessory at " + endpoint_.text() + " was closed.");
        for (auto& pending : left) pending.done(closing, {});
    }

    // Connects and verifies; on failure every write waiting now fails with the reason.
    void openSession() {
        Status status;
        if (!openSessionForWrite(status)) failQueued(status);
    }

    Status subscribeAndRead() {
        if (subscribe_.empty()) return Status::OK();
        auto answer = session_->request("PUT", "/characteristics", subscribeBody(subscribe_), options_.requestTimeout);
        if (!answer.ok()) return answer.status();
        if (answer->status != 204 && answer->status != 207 && answer->status != 200) {
            return Status::error("The accessory at " + endpoint_.text() + " refused the event subscription (HTTP " +
                                 std::to_string(answer->status) + ").");
        }
        answer = session_->request("GET", readPath(subscribe_), {}, options_.requestTimeout);
        if (!answer.ok()) return answer.status();
        if (answer->status == 200 || answer->status == 207) {
            auto values = parseValues(answer->body);
            if (!values.ok()) return values.status();
            if (callbacks_.values && !values->empty()) callbacks_.values(*values);
        }
        return Status::OK();
    }

    void deliverEvent(const HttpResponse& event) {
        auto values = parseValues(event.body);
        if (values.ok() && callbacks_.values && !values->empty()) callbacks_.values(*values);
    }

    // Takes the writes that go together: whole queued calls, until a characteristic would repeat.
    std::vector<PendingWrite> takeBatch() {
        std::lock_guard lock(lock_);
        std::vector<PendingWrite> batch;
        std::vector<CharacteristicWrite> seen;
        while (!queue_.empty()) {
            const auto& next = queue_.front().writes;
            bool repeats = false;
            for (const auto& w : next) {
                for (const auto& s : seen) repeats = repeats || sameCharacteristic(w, s);
            }
            if (repeats && !batch.empty()) break;
            seen.insert(seen.end(), next.begin(), next.end());
            batch.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        return batch;
    }

    void sendWrites() {
        for (;;) {
            auto batch = takeBatch();
            if (batch.empty()) return;
            std::vector<CharacteristicWrite> writes;
            for (const auto& pending : batch) writes.insert(writes.end(), pending.writes.begin(), pending.writes.end());
            std::string body = writeBody(writes);

            // Without a session (an earlier batch lost it) the backoff decides: the batch fails.
            Status status = session_ ? Status::OK() : lastProblem_;
            std::optional<HttpResponse> answer;
            // A session that sat idle may have been closed by the accessory (a restart): one more
            // try on a fresh session, unless the accessory simply did not answer.
            for (int attempt = 0; attempt < 2 && session_; ++attempt) {
                auto started = SteadyClock::now();
                auto sent = session_->request("PUT", "/characteristics", body, options_.requestTimeout);
                if (sent.ok()) {
                    answer = std::move(*sent);
                    break;
                }
                status = sent.status();
                dropSession(status);
                bool timedOut = SteadyClock::now() - started >= options_.requestTimeout;
                if (attempt > 0 || timedOut || !openSessionForWrite(status)) break;
            }
            if (!answer) {
                for (auto& pending : batch) pending.done(status, {});
                continue;
            }
            std::vector<CharacteristicStatus> statuses;
            if (answer->status == 204) {
                for (const auto& w : writes) statuses.push_back({w.aid, w.iid, 0});
            } else if (answer->status == 207) {
                auto parsed = parseWriteStatuses(answer->body, writes);
                if (!parsed.ok()) {
                    for (auto& pending : batch) pending.done(parsed.status(), {});
                    continue;
                }
                statuses = std::move(*parsed);
            } else {
                status = Status::error("The accessory at " + endpoint_.text() + " refused the write (HTTP " +
                                       std::to_string(answer->status) + ").");
                for (auto& pending : batch) pending.done(status, {});
                continue;
            }
            size_t offset = 0;
            for (auto& pending : batch) {
                std::vector<CharacteristicStatus> own(statuses.begin() + offset,
                                                      statuses.begin() + offset + pending.writes.size());
                offset += pending.writes.size();
                pending.done(Status::OK(), std::move(own));
            }
        }
    }

    // Connects, verifies, subscribes and reads the subscribed values. On failure the accessory is
    // unreachable and the next try is planned; writes already taken off the queue fail by the caller.
    bool openSessionForWrite(Status& status) {
        auto opened = Session::open(endpoint_, controller_, accessory_, options_.connectTimeout);
        status = opened.status();
        if (opened.ok()) {
            session_ = std::move(*opened);
            session_->setEventHandler([this](const HttpResponse& event) { deliverEvent(event); });
            status = subscribeAndRead();
        }
        if (!status.ok() || !session_) {
            session_.reset();
            dropSession(status);
            return false;
        }
        retryAt_.reset();
        retryDelay_ = options_.firstRetry;
        reportReachability(true, Status::OK());
        return true;
    }

    void failQueued(const Status& why) {
        std::deque<PendingWrite> failed;
        {
            std::lock_guard lock(lock_);
            failed.swap(queue_);
        }
        for (auto& pending : failed) pending.done(why, {});
    }

    // Forgets the session, says the accessory is unreachable and plans the next try.
    void dropSession(const Status& why) {
        session_.reset();
        lastProblem_ = why;
        reportReachability(false, why);
        retryAt_ = SteadyClock::now() + retryDelay_;
        retryDelay_ = std::min(retryDelay_ * 2, options_.longestRetry);
    }

    void reportReachability(bool reachable, const Status& why) {
        if (reachable_ == reachable) return;
        reachable_ = reachable;
        if (callbacks_.reachability) callbacks_.reachability(reachable, why);
    }

    const Endpoint endpoint_;
    const ControllerIdentity controller_;
    const AccessoryPairing accessory_;
    const std::vector<CharacteristicRef> subscribe_;
    const Callbacks callbacks_;
    const Options options_;

    std::mutex lock_;
    std::deque<PendingWrite> queue_;
    bool stopping_ = false;
    bool connectWanted_ = false;
    PollPump pump_;

    // The client's thread only.
    std::unique_ptr<Session> session_;
    std::optional<SteadyClock::time_point> retryAt_;
    std::chrono::milliseconds retryDelay_{options_.firstRetry};
    Status lastProblem_;  // why the last session failed or was lost
    std::optional<bool> reachable_;

    std::thread thread_;  // last: starts once everything above is made
};

AccessoryClient::AccessoryClient(Endpoint endpoint, ControllerIdentity controller, AccessoryPairing accessory,
                                 std::vector<CharacteristicRef> subscribe, Callbacks callbacks, Options options)
    : worker_(std::make_unique<Worker>(std::move(endpoint), std::move(controller), std::move(accessory),
                                       std::move(subscribe), std::move(callbacks), options)) {}

AccessoryClient::~AccessoryClient() = default;

void AccessoryClient::write(std::vector<CharacteristicWrite> writes, WriteDone done) {
    worker_->write(std::move(writes), std::move(done));
}

void AccessoryClient::connect() { worker_->connect(); }

const Endpoint& AccessoryClient::endpoint() const { return worker_->endpoint(); }

}  // namespace device::hap
