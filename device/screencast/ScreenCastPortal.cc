#include "ScreenCastPortal.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <vector>

using device::Status;
using device::StatusOr;

namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
// Calls that need no one to answer a dialog.
constexpr uint64_t kCallTimeoutMicros = 60'000'000;
constexpr uint32_t kSourceMonitor = 1, kSourceWindow = 2;
constexpr uint32_t kCursorHidden = 1;
constexpr uint32_t kPersistUntilRevoked = 2;

std::string busError(const sd_bus_error& error, int code) {
    if (error.message) return error.message;
    return std::strerror(-code);
}

// An sd-bus reference, released when it goes.
template <typename T, T* (*Unref)(T*)>
struct BusRef {
    T* p = nullptr;
    BusRef() = default;
    BusRef(const BusRef&) = delete;
    BusRef& operator=(const BusRef&) = delete;
    ~BusRef() {
        if (p) Unref(p);
    }
};
using Message = BusRef<sd_bus_message, sd_bus_message_unref>;
using Slot = BusRef<sd_bus_slot, sd_bus_slot_unref>;

struct ErrorHolder {
    sd_bus_error e = SD_BUS_ERROR_NULL;
    ~ErrorHolder() { sd_bus_error_free(&e); }
};

// A portal Request's answer: its response code and what came with it.
struct Answer {
    bool came = false;
    uint32_t response = 0;
    std::string sessionHandle;
    std::string restoreToken;
    uint32_t node = 0;
    bool hasNode = false;
    int width = 0, height = 0;
};

// Reads the results dictionary (a{sv}) of a Response into `answer`; keys not known are skipped.
int readResults(sd_bus_message* m, Answer* answer) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
        const std::string name = key;
        if (name == "session_handle" || name == "restore_token") {
            const char* text = nullptr;
            if ((r = sd_bus_message_read(m, "v", "s", &text)) < 0) return r;
            (name == "session_handle" ? answer->sessionHandle : answer->restoreToken) = text;
        } else if (name == "streams") {
            if ((r = sd_bus_message_enter_container(m, 'v', "a(ua{sv})")) < 0) return r;
            if ((r = sd_bus_message_enter_container(m, 'a', "(ua{sv})")) < 0) return r;
            while ((r = sd_bus_message_enter_container(m, 'r', "ua{sv}")) > 0) {
                uint32_t node = 0;
                if ((r = sd_bus_message_read(m, "u", &node)) < 0) return r;
                if ((r = sd_bus_message_enter_container(m, 'a', "{sv}")) < 0) return r;
                int width = 0, height = 0;
                while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
                    const char* property = nullptr;
                    if ((r = sd_bus_message_read(m, "s", &property)) < 0) return r;
                    if (std::strcmp(property, "size") == 0) {
                        if ((r = sd_bus_message_read(m, "v", "(ii)", &width, &height)) < 0) return r;
                    } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
                        return r;
                    }
                    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
                }
                if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) return r;
                if ((r = sd_bus_message_exit_container(m)) < 0) return r;
                if (!answer->hasNode) {  // one source was asked for: the first stream is it
                    answer->hasNode = true;
                    answer->node = node;
                    answer->width = width;
                    answer->height = height;
                }
            }
            if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) return r;
            if ((r = sd_bus_message_exit_container(m)) < 0) return r;
        } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
            return r;
        }
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

int onResponse(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* answer = static_cast<Answer*>(data);
    answer->came = true;
    if (sd_bus_message_read(m, "u", &answer->response) < 0 || readResults(m, answer) < 0)
        answer->response = 2;  // an answer that cannot be read is a failed request
    return 0;
}

int onClosed(sd_bus_message*, void* data, sd_bus_error*) {
    *static_cast<bool*>(data) = true;
    return 0;
}

// The options dictionary of a call, built by appending entries.
struct CallOptions {
    std::vector<std::function<int(sd_bus_message*)>> entries;
    void add(const char* key, const std::string& value) {
        entries.push_back(
            [key, value](sd_bus_message* m) { return sd_bus_message_append(m, "{sv}", key, "s", value.c_str()); });
    }
    void add(const char* key, uint32_t value) {
        entries.push_back(
            [key, value](sd_bus_message* m) { return sd_bus_message_append(m, "{sv}", key, "u", value); });
    }
    void add(const char* key, bool value) {
        entries.push_back(
            [key, value](sd_bus_message* m) { return sd_bus_message_append(m, "{sv}", key, "b", int(value)); });
    }
    int appendTo(sd_bus_message* m) const {
        int r = sd_bus_message_open_container(m, 'a', "{sv}");
        for (const auto& entry : entries)
            if (r >= 0) r = entry(m);
        return r < 0 ? r : sd_bus_message_close_container(m);
    }
};

// Stop signals the calling thread blocks, readable as a descriptor; -1 when it blocks none.
int stopSignalDescriptor() {
    sigset_t blocked, stops;
    pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
    sigemptyset(&stops);
    for (int signal : {SIGINT, SIGTERM})
        if (sigismember(&blocked, signal)) sigaddset(&stops, signal);
    if (sigisemptyset(&stops)) return -1;
    return signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
}

}  // namespace

struct ScreenCastPortal::Impl {
    sd_bus* bus = nullptr;
    std::string sender;  // our unique name as the portal's object paths spell it
    int requests = 0;
    std::string session;
    Slot closedSlot;
    bool closed = false;
    Answer started;
    int stopSignals = -1;

    ~Impl() {
        if (bus && !session.empty() && !closed) {
            // Ends the stream at once; were this lost, the portal still ends it when we disconnect.
            (void)sd_bus_call_method(bus, kPortal, session.c_str(), "org.freedesktop.portal.Session", "Close", nullptr,
                                     nullptr, "");
        }
        // Before the bus it belongs to.
        if (closedSlot.p) closedSlot.p = sd_bus_slot_unref(closedSlot.p);
        if (bus) sd_bus_flush_close_unref(bus);
        if (stopSignals >= 0) close(stopSignals);
    }

    // Waits for the bus until `done` holds or `patience` passes; an error on a stop signal, a
    // broken bus or no answer in time (`what` names what was waited for).
    Status waitFor(const std::function<bool()>& done, std::chrono::milliseconds patience, const std::string& what) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!done()) {
            const int processed = sd_bus_process(bus, nullptr);
            if (processed < 0)
                return Status::error("the session bus failed: " + std::string(std::strerror(-processed)));
            if (processed > 0) continue;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return Status::error("no answer from the desktop portal to " + what + " in time");
            pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                             {stopSignals, POLLIN, 0}};
            const int ready =
                poll(fds, stopSignals >= 0 ? 2 : 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
            if (ready < 0 && errno != EINTR) return Status::error(std::string("poll failed: ") + std::strerror(errno));
            if (stopSignals >= 0 && (fds[1].revents & POLLIN))
                return Status::error("stopped by a signal while waiting for " + what);
        }
        return Status::OK();
    }

    // Calls ScreenCast.METHOD with `arguments` then `options` (given a fresh handle_token), and waits
    // for the Request's Response; an error names the method and what went wrong.
    StatusOr<Answer> request(const char* method, const std::function<int(sd_bus_message*)>& arguments,
                             CallOptions options, std::chrono::milliseconds patience) {
        const std::string token = "glimmora" + std::to_string(++requests);
        const std::string path = std::string(kPortalPath) + "/request/" + sender + "/" + token;
        Answer answer;
        Slot slot;
        // Subscribed before the call, so that a quick answer is not missed.
        int r = sd_bus_match_signal(bus, &slot.p, nullptr, path.c_str(), "org.freedesktop.portal.Request", "Response",
                                    onResponse, &answer);
        if (r < 0) return Status::error(std::string("cannot listen for the portal's answer: ") + std::strerror(-r));
        options.add("handle_token", token);
        Message call, reply;
        r = sd_bus_message_new_method_call(bus, &call.p, kPortal, kPortalPath, kScreenCast, method);
        if (r >= 0) r = arguments(call.p);
        if (r >= 0) r = options.appendTo(call.p);
        if (r < 0) return Status::error(std::string(method) + ": " + std::strerror(-r));
        ErrorHolder error;
        r = sd_bus_call(bus, call.p, kCallTimeoutMicros, &error.e, &reply.p);
        if (r < 0) return Status::error(describeCallError(method, error.e, r));
        Status waited = waitFor([&] { return answer.came; }, patience, method);
        if (!waited.ok()) {
            // Withdraws the request (and its dialog); the portal may already have ended it.
            (void)sd_bus_call_method(bus, kPortal, path.c_str(), "org.freedesktop.portal.Request", "Close", nullptr,
                                     nullptr, "");
            return waited;
        }
        switch (answer.response) {
            case 0:
                return answer;
            case 1:
                return Status::error("the screen share was cancelled in the desktop's dialog");
            case 2:
                return Status::error(std::string("the desktop ended the request (") + method +
                                     ") without sharing: it was closed or failed");
            default:
                return Status::error(std::string("the desktop answered ") + method + " with code " +
                                     std::to_string(answer.response));
        }
    }

    static std::string describeCallError(const char* method, const sd_bus_error& error, int code) {
        if (sd_bus_error_has_name(&error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
            sd_bus_error_has_name(&error, SD_BUS_ERROR_NAME_HAS_NO_OWNER))
            return "no desktop portal on the session bus (is xdg-desktop-portal installed, with a backend for this "
                   "desktop?): " +
                   busError(error, code);
        if (sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_INTERFACE) ||
            sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_METHOD))
            return "the desktop portal offers no screen casting: " + busError(error, code);
        return std::string("the desktop portal refused ") + method + ": " + busError(error, code);
    }

    // A ScreenCast property: AvailableSourceTypes, version.
    uint32_t property(const char* name) {
        ErrorHolder error;
        uint32_t value = 0;
        if (sd_bus_get_property_trivial(bus, kPortal, kPortalPath, kScreenCast, name, &error.e, 'u', &value) < 0)
            return 0;
        return value;
    }
};

ScreenCastPortal::ScreenCastPortal(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ScreenCastPortal::~ScreenCastPortal() = default;

StatusOr<std::unique_ptr<ScreenCastPortal>> ScreenCastPortal::start(const Options& options) {
    auto impl = std::make_unique<Impl>();
    Impl& s = *impl;
    int r = sd_bus_open_user(&s.bus);
    if (r < 0)
        return Status::error("cannot reach the D-Bus session bus (" + std::string(std::strerror(-r)) +
                             "): the desktop portal is found there");
    const char* unique = nullptr;
    if ((r = sd_bus_get_unique_name(s.bus, &unique)) < 0)
        return Status::error("the session bus gave no name: " + std::string(std::strerror(-r)));
    s.sender = unique + 1;  // ":1.42" is spelt "1_42" in the portal's paths
    std::replace(s.sender.begin(), s.sender.end(), '.', '_');
    s.stopSignals = stopSignalDescriptor();

    const uint32_t version = s.property("version");
    const uint32_t available = s.property("AvailableSourceTypes");
    if (version == 0)
        return Status::error(
            "no desktop portal with screen casting on the session bus (is xdg-desktop-portal installed, with a "
            "backend for this desktop?)");
    const uint32_t wanted = options.share == Share::window ? kSourceWindow : kSourceMonitor;
    if (available != 0 && !(available & wanted))
        return Status::error(std::string("this desktop's portal cannot share a ") +
                             (options.share == Share::window ? "window" : "monitor"));

    const auto noArguments = [](sd_bus_message*) { return 0; };
    CallOptions created;
    created.add("session_handle_token", std::string("glimmora"));
    StatusOr<Answer> session = s.request("CreateSession", noArguments, std::move(created), std::chrono::seconds(60));
    if (!session.ok()) return session.status();
    if (session->sessionHandle.empty()) return Status::error("the desktop portal made no session");
    s.session = session->sessionHandle;
    r = sd_bus_match_signal(s.bus, &s.closedSlot.p, nullptr, s.session.c_str(), "org.freedesktop.portal.Session",
                            "Closed", onClosed, &s.closed);
    if (r < 0) return Status::error("cannot listen for the session's end: " + std::string(std::strerror(-r)));

    const auto onSession = [&](sd_bus_message* m) { return sd_bus_message_append(m, "o", s.session.c_str()); };
    CallOptions select;
    select.add("types", wanted);
    select.add("multiple", false);
    // The pointer is not part of what is shown, and would change the colour where it is.
    if (s.property("AvailableCursorModes") & kCursorHidden) select.add("cursor_mode", kCursorHidden);
    if (version >= 4) {
        select.add("persist_mode", kPersistUntilRevoked);
        if (!options.restoreToken.empty()) select.add("restore_token", options.restoreToken);
    }
    StatusOr<Answer> selected = s.request("SelectSources", onSession, std::move(select), std::chrono::seconds(60));
    if (!selected.ok()) return selected.status();

    const auto onStart = [&](sd_bus_message* m) { return sd_bus_message_append(m, "os", s.session.c_str(), ""); };
    StatusOr<Answer> started = s.request("Start", onStart, CallOptions{}, options.patience);
    if (!started.ok()) return started.status();
    if (!started->hasNode) return Status::error("the desktop shared no stream");
    s.started = *std::move(started);
    return std::unique_ptr<ScreenCastPortal>(new ScreenCastPortal(std::move(impl)));
}

uint32_t ScreenCastPortal::node() const { return impl_->started.node; }
int ScreenCastPortal::width() const { return impl_->started.width; }
int ScreenCastPortal::height() const { return impl_->started.height; }
const std::string& ScreenCastPortal::restoreToken() const { return impl_->started.restoreToken; }
int ScreenCastPortal::busDescriptor() const { return sd_bus_get_fd(impl_->bus); }

StatusOr<int> ScreenCastPortal::openPipeWireRemote() {
    Message reply;
    ErrorHolder error;
    int r = sd_bus_call_method(impl_->bus, kPortal, kPortalPath, kScreenCast, "OpenPipeWireRemote", &error.e, &reply.p,
                               "oa{sv}", impl_->session.c_str(), 0);
    if (r < 0) return Status::error("the desktop portal gave no PipeWire connection: " + busError(error.e, r));
    int fd = -1;
    if ((r = sd_bus_message_read(reply.p, "h", &fd)) < 0)
        return Status::error("the desktop portal's PipeWire connection cannot be read: " +
                             std::string(std::strerror(-r)));
    // The message owns its descriptor.
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0) return Status::error("cannot keep the PipeWire connection: " + std::string(std::strerror(errno)));
    return own;
}

Status ScreenCastPortal::dispatch() {
    for (int i = 0; i < 64; ++i) {
        const int r = sd_bus_process(impl_->bus, nullptr);
        if (r < 0) return Status::error("the session bus went away (" + std::string(std::strerror(-r)) + ")");
        if (r == 0) break;
    }
    if (impl_->closed) return Status::error("the desktop closed the screen-cast session");
    return Status::OK();
}
