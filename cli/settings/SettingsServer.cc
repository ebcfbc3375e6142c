#include "SettingsServer.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <set>
#include <thread>

#include <httplib.h>
#include <sodium.h>
#include <nlohmann/json.hpp>

#include <Foundation/PrintableText.h>

#include "AccessoryFinder.h"
#include "SettingsActions.h"
#include "SettingsPage.h"
#include "StateFeed.h"

using json = nlohmann::ordered_json;

namespace {

constexpr int kWorkerThreads = 16;
// Event streams each hold a worker; the rest are kept for the page's requests.
constexpr int kMostStreams = 8;
constexpr std::chrono::seconds kKeepAliveComment{15};
constexpr size_t kMostBody = 16 * 1024;

std::string randomToken() {
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[sizeof bytes * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

bool sameToken(const std::string& given, const std::string& token) {
    return given.size() == token.size() && sodium_memcmp(given.data(), token.data(), token.size()) == 0;
}

// The script's or style's hash as a Content-Security-Policy source: only that inline text runs.
std::string hashSource(const std::string& text) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    char base64[sodium_base64_ENCODED_LEN(crypto_hash_sha256_BYTES, sodium_base64_VARIANT_ORIGINAL)];
    sodium_bin2base64(base64, sizeof base64, digest, sizeof digest, sodium_base64_VARIANT_ORIGINAL);
    return std::string("'sha256-") + base64 + "'";
}

std::string replaced(std::string text, const std::string& mark, const std::string& with) {
    size_t at = text.find(mark);
    if (at != std::string::npos) text.replace(at, mark.size(), with);
    return text;
}

void answer(httplib::Response& res, int status, const std::string& key, const std::string& text) {
    res.status = status;
    res.set_content(json{{key, text}}.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void log(const std::string& line) { std::cerr << "glimmora settings: " << device::printable(line) << "\n"; }

}  // namespace

bool isLoopbackAddress(const std::string& address) {
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

struct SettingsServer::Parts {
    httplib::Server http;
    StateFeed feed;
    std::unique_ptr<AccessoryFinder> finder;
    std::string discoveryProblem;
    std::string token, hostPort, page, contentPolicy;
    std::set<std::string> hosts;  // the Host headers that name this server
    std::atomic<int> streams{0};
    std::atomic<bool> stopping{false};
    std::thread listener;

    bool allowed(const httplib::Request& req, httplib::Response& res);
    void route();
};

bool SettingsServer::Parts::allowed(const httplib::Request& req, httplib::Response& res) {
    res.set_header("Content-Security-Policy", contentPolicy);
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
    if (!hosts.count(req.get_header_value("Host"))) {
        answer(res, 403, "error",
               "this page is served as http://" + hostPort + "/ only: the request named another host");
        return false;
    }
    const std::string origin = req.get_header_value("Origin");
    if (req.has_header("Origin") && !(origin.rfind("http://", 0) == 0 && hosts.count(origin.substr(7)))) {
        answer(res, 403, "error", "requests from other sites are refused");
        return false;
    }
    if (req.get_header_value("Sec-Fetch-Site") == "cross-site") {
        answer(res, 403, "error", "requests from other sites are refused");
        return false;
    }
    const std::string given =
        req.has_header("X-Glimmora-Token") ? req.get_header_value("X-Glimmora-Token") : req.get_param_value("token");
    if (!sameToken(given, token)) {
        answer(res, 403, "error",
               "this page needs its access token: open the address `glimmora settings` printed, token included");
        return false;
    }
    return true;
}

void SettingsServer::Parts::route() {
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return allowed(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                 : httplib::Server::HandlerResponse::Handled;
    });
    http.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(page, "text/html; charset=utf-8");
    });
    http.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(feed.currentState(), "application/json");
    });
    http.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
        if (streams.fetch_add(1) >= kMostStreams) {
            streams.fetch_sub(1);
            answer(res, 503, "error", "too many pages are open on this server; close one");
            return;
        }
        feed.streamOpened();
        auto versions = std::make_shared<std::pair<uint64_t, uint64_t>>(0, 0);
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, versions](size_t, httplib::DataSink& sink) {
                StateFeed::News news = feed.waitForNews(&versions->first, &versions->second, kKeepAliveComment);
                if (news.stopping) return false;
                std::string events;
                if (!news.state.empty()) events += "event: state\ndata: " + news.state + "\n\n";
                if (!news.accessories.empty()) events += "event: accessories\ndata: " + news.accessories + "\n\n";
                if (events.empty()) events = ": still here\n\n";
                return sink.write(events.data(), events.size());
            },
            [this](bool) {
                feed.streamClosed();
                streams.fetch_sub(1);
            });
    });

    // State changes: POST only; a GET of the same path changes nothing.
    for (const char* path : {"/api/switch", "/api/pair", "/api/unpair"})
        http.Get(path, [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Allow", "POST");
            answer(res, 405, "error", "changes are made by POST only");
        });
    auto withBody = [](const httplib::Request& req, httplib::Response& res, json* body) {
        *body = json::parse(req.body, nullptr, false);
        if (body->is_object()) return true;
        answer(res, 400, "error", "the request's body must be a JSON object");
        return false;
    };
    auto text = [](const json& body, const char* key) {
        auto it = body.find(key);
        return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    http.Post("/api/switch", [this, withBody, text](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!withBody(req, res, &body)) return;
        auto on = body.find("on");
        if (on == body.end() || !on->is_boolean()) return answer(res, 400, "error", "\"on\" must be true or false");
        std::string message;
        if (device::Status problem = writeSwitch(text(body, "key"), on->get<bool>(), &message); !problem.ok())
            return answer(res, 400, "error", problem.message());
        log(message);
        feed.lookNow();
        answer(res, 200, "message", message);
    });
    http.Post("/api/pair", [this, withBody, text](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!withBody(req, res, &body)) return;
        std::string message;
        device::Status problem = pairAdvertisedAccessory(
            text(body, "id"), text(body, "name"), text(body, "room"), text(body, "code"),
            [this] { return stopping.load(); }, &message);
        if (!problem.ok()) {
            log("pairing " + text(body, "name") + " failed: " + problem.message());
            return answer(res, 400, "error", problem.message() + "\nNothing was recorded.");
        }
        log(message);
        if (finder) finder->publish();
        feed.lookNow();
        answer(res, 200, "message", message);
    });
    http.Post("/api/unpair", [this, withBody, text](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!withBody(req, res, &body)) return;
        std::string message;
        if (device::Status problem = unpairLamp(text(body, "name"), &message); !problem.ok())
            return answer(res, 400, "error", problem.message());
        log(message);
        if (finder) finder->publish();
        feed.lookNow();
        answer(res, 200, "message", message);
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) answer(res, res.status, "error", "no such page");
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        answer(res, 500, "error", "the server failed to answer this request");
    });
}

device::StatusOr<std::unique_ptr<SettingsServer>> SettingsServer::start(const Options& options) {
    if (sodium_init() < 0) return device::Status::error("cannot start libsodium");
    in6_addr any6{};
    in_addr v4{};
    const bool v6 = inet_pton(AF_INET6, options.listen.c_str(), &any6) == 1;
    if (!v6 && inet_pton(AF_INET, options.listen.c_str(), &v4) != 1)
        return device::Status::error(device::quotedPrintable(options.listen) +
                                     " is not an IP address (for example 127.0.0.1 or ::1)");
    if ((v6 && IN6_IS_ADDR_UNSPECIFIED(&any6)) || (!v6 && v4.s_addr == htonl(INADDR_ANY)))
        return device::Status::error(
            "the page serves one address, not every one: give the address of the interface to serve on");

    std::unique_ptr<SettingsServer> server(new SettingsServer());
    server->parts_ = std::make_unique<Parts>();
    Parts& parts = *server->parts_;
    parts.token = randomToken();
    parts.http.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    parts.http.set_keep_alive_timeout(2);
    parts.http.set_payload_max_length(kMostBody);
    int port = options.port;
    if (port == 0) {
        port = parts.http.bind_to_any_port(options.listen);
        if (port < 0) return device::Status::error("cannot listen on " + options.listen + ": " + std::strerror(errno));
    } else if (!parts.http.bind_to_port(options.listen, port)) {
        return device::Status::error("cannot listen on " + options.listen + " port " + std::to_string(port) + ": " +
                                     std::strerror(errno) + " (--port 0 takes any free port)");
    }
    const std::string host = v6 ? "[" + options.listen + "]" : options.listen;
    const std::string suffix = ":" + std::to_string(port);
    parts.hostPort = host + suffix;
    parts.hosts = {parts.hostPort};
    if (isLoopbackAddress(options.listen)) parts.hosts.insert("localhost" + suffix);

    parts.page =
        replaced(replaced(settingsPageHtml(), "/*STYLE*/", settingsPageStyle()), "/*SCRIPT*/", settingsPageScript());
    parts.contentPolicy = "default-src 'none'; script-src " + hashSource(settingsPageScript()) + "; style-src " +
                          hashSource(settingsPageStyle()) +
                          "; connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; "
                          "frame-ancestors 'none'";
    parts.route();

    device::StatusOr<std::unique_ptr<AccessoryFinder>> finder = AccessoryFinder::start(parts.feed);
    if (finder.ok()) {
        parts.finder = std::move(*finder);
    } else {
        parts.discoveryProblem = finder.status().message();
        parts.feed.publishAccessories(
            json{{"problem", parts.discoveryProblem}}.dump(-1, ' ', false, json::error_handler_t::replace));
    }

    parts.listener = std::thread([&parts] { parts.http.listen_after_bind(); });
    // Until it runs, stopping it would do nothing and leave the listener to run on.
    for (int i = 0; i < 1000 && !parts.http.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return server;
}

SettingsServer::~SettingsServer() { stop(); }

std::string SettingsServer::pageAddress() const { return "http://" + parts_->hostPort + "/?token=" + parts_->token; }

std::string SettingsServer::discoveryProblem() const { return parts_->discoveryProblem; }

void SettingsServer::stop() {
    if (!parts_ || !parts_->listener.joinable()) return;
    parts_->stopping = true;
    parts_->feed.stop();
    parts_->http.stop();
    parts_->listener.join();
    parts_->finder.reset();
}
