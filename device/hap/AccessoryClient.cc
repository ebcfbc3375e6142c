#include "AccessoryClient.h"

#include <atomic>
#include <deque>
#include <mutex>

#include "../base/IoSequence.h"
#include "../base/SequenceChecker.h"
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
          options_(options) {
        StatusOr<std::unique_ptr<IoSequence>> made = IoSequence::make();
        if (made.ok()) {
            sequence_ = std::move(*made);
        } else {
            // Without a sequence there is nothing to wait for work on, nor anything to stop later.
            startProblem_ = Status::error("The client of the accessory at " + endpoint_.text() +
                                          " cannot wait for work: " + made.status().message() + ".");
            reportReachability(false, startProblem_);
        }
    }

    ~Worker() {
        if (!sequence_) return;
        stopping_ = true;
        sequence_->postTask([this] { close(); });
        sequence_->stop();  // runs what is due, the close last
    }

    void write(std::vector<CharacteristicWrite> writes, WriteDone done) {
        if (!sequence_) return done(startProblem_, {});
        {
            std::lock_guard lock(lock_);
            queue_.push_back({std::move(writes), std::move(done)});
        }
        sequence_->postTask([this] { serve(false); });
    }

    void connect() {
        if (sequence_) sequence_->postTask([this] { serve(true); });
    }

    void retryNow() {
        if (!sequence_) return;
        sequence_->postTask([this] {
            if (stopping_) return;
            retryAt_.reset();
            retryDelay_ = options_.firstRetry;
            // Whatever was said before, the outcome of this try is news.
            reachable_.reset();
            if (session_)
                reportReachability(true, Status::OK());
            else
                serve(true);
        });
    }

    const Endpoint& endpoint() const { return endpoint_; }

private:
    // Dials when wanted and due, then sends or fails what is queued. Posted for each write, for
    // connect(), and for the end of each backoff.
    void serve(bool connectWanted) {
        sequenceChecker_.check("the client of an accessory");
        if (stopping_) return;
        bool writesWaiting;
        {
            std::lock_guard lock(lock_);
            writesWaiting = !queue_.empty();
        }
        // After a failure only the backoff decides when to dial again; until then writes fail at
        // once with the last reason.
        bool dialDue = !retryAt_ || SteadyClock::now() >= *retryAt_;
        if (!session_ && dialDue && (connectWanted || writesWaiting || retryAt_)) openSession();
        if (writesWaiting && session_)
            sendWrites();
        else if (writesWaiting)
            failQueued(lastProblem_);
    }

    // The session's descriptor is readable: events, or its end.
    void readEvents() {
        sequenceChecker_.check("the client of an accessory");
        Status read = session_->readPendingEvents();
        if (!read.ok()) dropSession(read);
    }

    // The last task: the session closes and what is left in the queue fails.
    void close() {
        sequenceChecker_.check("the client of an accessory");
        sessionWatch_.cancel();
        session_.reset();
        Status closing = Status::error("The connection to the accessory at " + endpoint_.text() + " was closed.");
        failQueued(closing);
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
        sessionWatch_ =
            sequence_->watch(session_->descriptor(), IoSequence::Readiness::readable, [this] { readEvents(); });
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
        sessionWatch_.cancel();
        session_.reset();
        lastProblem_ = why;
        reportReachability(false, why);
        retryAt_ = SteadyClock::now() + retryDelay_;
        retryDelay_ = std::min(retryDelay_ * 2, options_.longestRetry);
        // A later drop plans a later try; this one then finds it is not yet due.
        sequence_->postDelayedTask(*retryAt_, [this] { serve(false); });
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
    std::atomic<bool> stopping_{false};  // the client goes: nothing more is dialled or sent

    // The client's sequence only (and, when there is none, reachable_ once, at the start).
    SequenceChecker sequenceChecker_;
    std::unique_ptr<Session> session_;
    IoSequence::Watch sessionWatch_;  // of session_'s descriptor
    std::optional<SteadyClock::time_point> retryAt_;
    std::chrono::milliseconds retryDelay_{options_.firstRetry};
    Status lastProblem_;  // why the last session failed or was lost
    std::optional<bool> reachable_;

    Status startProblem_;                   // why there is no sequence
    std::unique_ptr<IoSequence> sequence_;  // last: made once everything above is
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

void AccessoryClient::retryNow() { worker_->retryNow(); }

const Endpoint& AccessoryClient::endpoint() const { return worker_->endpoint(); }

}  // namespace device::hap
