#include "WaylandDesktop.h"

#include <dirent.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

#include <screencast/PipeWireStream.h>

namespace {

constexpr const char* kWaylandDisplay = "wayland-glimmora";
constexpr const char* kMutterBus = "org.gnome.Mutter.ScreenCast";
// Starting a desktop on a loaded machine under a sanitizer takes seconds; the dialog too.
constexpr auto kStartPatience = std::chrono::seconds(60);
constexpr unsigned kTab = 0xff09, kSpace = 0x20, kAlt = 0xffe9, kF4 = 0xffc1;

const std::vector<std::string> kPrograms = {"/usr/bin/dbus-daemon",
                                            "/usr/bin/pipewire",
                                            "/usr/bin/wireplumber",
                                            "/usr/bin/mutter",
                                            "/usr/libexec/xdg-desktop-portal",
                                            "/usr/libexec/xdg-desktop-portal-gnome"};

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string painter() { return buildDirectory() + "/wayland_paint"; }

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// The processes whose environment names `runtime` as their runtime directory: the desktop's, also
// those the bus started, which no handle of ours holds.
std::vector<pid_t> processesOf(const std::string& runtime) {
    std::vector<pid_t> found;
    const std::string needle = "XDG_RUNTIME_DIR=" + runtime;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        std::ifstream in("/proc/" + std::string(entry->d_name) + "/environ");
        std::string environment((std::istreambuf_iterator<char>(in)), {});
        for (size_t at = 0; at < environment.size();) {
            const size_t end = environment.find('\0', at);
            if (environment.compare(at, (end == std::string::npos ? environment.size() : end) - at, needle) == 0) {
                found.push_back(pid);
                break;
            }
            if (end == std::string::npos) break;
            at = end + 1;
        }
    }
    closedir(proc);
    return found;
}

}  // namespace

struct WaylandDesktop::Bus {
    sd_bus* bus = nullptr;
    std::string keyboard;  // a started RemoteDesktop session
    ~Bus() {
        if (bus) sd_bus_flush_close_unref(bus);
    }
    bool owned(const char* name) {
        int has = 0;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", nullptr, &reply, "s", name) >= 0) {
            sd_bus_message_read(reply, "b", &has);
            sd_bus_message_unref(reply);
        }
        return has != 0;
    }
    // Calls a method whose answer is one object path; "" on failure.
    std::string callForPath(const char* destination, const char* path, const char* interface, const char* method,
                            const char* signature = "", const char* argument = nullptr) {
        sd_bus_message* reply = nullptr;
        int r;
        if (std::string(signature) == "sa{sv}")
            r = sd_bus_call_method(bus, destination, path, interface, method, nullptr, &reply, signature, argument, 0);
        else if (std::string(signature) == "a{sv}")
            r = sd_bus_call_method(bus, destination, path, interface, method, nullptr, &reply, signature, 0);
        else
            r = sd_bus_call_method(bus, destination, path, interface, method, nullptr, &reply, "");
        if (r < 0) return "";
        const char* object = nullptr;
        std::string result = sd_bus_message_read(reply, "o", &object) >= 0 ? object : "";
        sd_bus_message_unref(reply);
        return result;
    }
};

std::string WaylandDesktop::missing() {
    for (const std::string& program : kPrograms)
        if (access(program.c_str(), X_OK) != 0) return program;
    if (access(painter().c_str(), X_OK) != 0) return painter();
    return "";
}

WaylandDesktop::WaylandDesktop(int width, int height) : width_(width), height_(height), bus_(std::make_unique<Bus>()) {
    if (!start(width, height) && failure_.empty()) failure_ = "the desktop did not start";
}

std::unique_ptr<BackgroundProcess> WaylandDesktop::launch(const std::string& name,
                                                          const std::vector<std::string>& argv) {
    auto process = std::make_unique<BackgroundProcess>(argv, std::map<std::string, std::string>{},
                                                       runtime_.path() + "/" + name + ".log");
    return process;
}

bool WaylandDesktop::start(int width, int height) {
    const std::string& runtime = runtime_.path();
    chmod(runtime.c_str(), 0700);
    for (const char* sub : {"home", "config", "data", "cache", "state", "data/dbus-1", "data/dbus-1/services"})
        mkdir((runtime + "/" + sub).c_str(), 0700);
    // Services the portal would start that the tests need not: the document portal mounts a FUSE file
    // system, the accessibility bus is a second bus. Ours come first in the bus's search.
    for (const char* name : {"org.freedesktop.portal.Documents", "org.a11y.Bus"})
        writeFile(runtime + "/data/dbus-1/services/" + name + ".service",
                  std::string("[D-BUS Service]\nName=") + name + "\nExec=/bin/false\n");
    environment_ = {{"XDG_RUNTIME_DIR", runtime},
                    {"HOME", runtime + "/home"},
                    {"XDG_CONFIG_HOME", runtime + "/config"},
                    {"XDG_DATA_HOME", runtime + "/data"},
                    {"XDG_CACHE_HOME", runtime + "/cache"},
                    {"XDG_STATE_HOME", runtime + "/state"},
                    {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime + "/bus"},
                    {"WAYLAND_DISPLAY", kWaylandDisplay},
                    {"XDG_CURRENT_DESKTOP", "GNOME"},
                    {"XDG_SESSION_TYPE", "wayland"},
                    {"GDK_BACKEND", "wayland"},
                    {"GSK_RENDERER", "cairo"},
                    {"GSETTINGS_BACKEND", "memory"},
                    {"GTK_A11Y", "none"},
                    {"NO_AT_BRIDGE", "1"},
                    {"DISPLAY", ""},
                    {"PIPEWIRE_REMOTE", ""}};
    for (const auto& [name, value] : environment_) {
        const char* before = std::getenv(name.c_str());
        saved_[name] = before ? before : "\x01";
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
    // What the bus starts outlives its parent's handle: as our orphans they are reaped here.
    prctl(PR_SET_CHILD_SUBREAPER, 1);

    const auto waitFor = [&](const std::string& what, auto ready) {
        if (BackgroundProcess::waitFor(ready, kStartPatience)) return true;
        failure_ = what + " did not start in time";
        return false;
    };
    processes_.emplace_back("dbus", launch("dbus", {"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                                                    "--nosyslog", "--address=unix:path=" + runtime + "/bus"}));
    if (!waitFor("dbus-daemon", [&] { return exists(runtime + "/bus"); })) return false;
    processes_.emplace_back("pipewire", launch("pipewire", {"/usr/bin/pipewire"}));
    if (!waitFor("pipewire", [&] { return exists(runtime + "/pipewire-0"); })) return false;
    processes_.emplace_back("wireplumber", launch("wireplumber", {"/usr/bin/wireplumber"}));
    processes_.emplace_back("mutter", launch("mutter", {"/usr/bin/mutter", "--headless", "--wayland", "--no-x11",
                                                        "--wayland-display", kWaylandDisplay, "--virtual-monitor",
                                                        std::to_string(width) + "x" + std::to_string(height)}));
    if (sd_bus_open_user(&bus_->bus) < 0) {
        failure_ = "cannot connect to the desktop's session bus";
        return false;
    }
    if (!waitFor("mutter", [&] { return exists(runtime + "/" + kWaylandDisplay) && bus_->owned(kMutterBus); }))
        return false;
    // mutter offers RemoteDesktop a little after ScreenCast; a session started too early may also
    // be refused while it sets up, so it is asked again until it starts.
    std::string session;
    const bool keyboard = BackgroundProcess::waitFor(
        [&] {
            if (!bus_->owned("org.gnome.Mutter.RemoteDesktop")) return false;
            session = bus_->callForPath("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                                        "org.gnome.Mutter.RemoteDesktop", "CreateSession");
            if (!session.empty() &&
                sd_bus_call_method(bus_->bus, "org.gnome.Mutter.RemoteDesktop", session.c_str(),
                                   "org.gnome.Mutter.RemoteDesktop.Session", "Start", nullptr, nullptr, "") >= 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return false;
        },
        kStartPatience);
    if (!keyboard) {
        failure_ = "mutter's RemoteDesktop gave no keyboard";
        return false;
    }
    bus_->keyboard = session;
    return true;
}

WaylandDesktop::~WaylandDesktop() {
    bus_.reset();
    for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) it->second->stop(SIGTERM);
    // The services the bus started end with it; any that did not is ended here.
    for (int round = 0; round < 20; ++round) {
        const std::vector<pid_t> left = processesOf(runtime_.path());
        if (left.empty()) break;
        for (pid_t pid : left) kill(pid, round < 10 ? SIGTERM : SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    }
    for (const auto& [name, value] : saved_) {
        if (value == "\x01")
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
}

std::unique_ptr<BackgroundProcess> WaylandDesktop::paint(const std::string& colour) {
    auto window = std::make_unique<BackgroundProcess>(std::vector<std::string>{painter(), colour});
    const bool painted = BackgroundProcess::waitFor(
        [&] { return window->out().find("painted " + colour) != std::string::npos || !window->running(); },
        kStartPatience);
    if (!painted || !window->running()) return nullptr;
    return window;
}

std::string WaylandDesktop::pixelAt(int x, int y) {
    sd_bus* bus = bus_->bus;
    const std::string session =
        bus_->callForPath(kMutterBus, "/org/gnome/Mutter/ScreenCast", kMutterBus, "CreateSession", "a{sv}");
    if (session.empty()) return "";
    const std::string stream = bus_->callForPath(kMutterBus, session.c_str(), "org.gnome.Mutter.ScreenCast.Session",
                                                 "RecordMonitor", "sa{sv}", "");
    uint32_t node = 0;
    sd_bus_slot* slot = nullptr;
    std::string colour;
    const auto onAdded = [](sd_bus_message* m, void* data, sd_bus_error*) {
        return sd_bus_message_read(m, "u", static_cast<uint32_t*>(data));
    };
    if (!stream.empty() &&
        sd_bus_match_signal(bus, &slot, nullptr, stream.c_str(), "org.gnome.Mutter.ScreenCast.Stream",
                            "PipeWireStreamAdded", onAdded, &node) >= 0 &&
        sd_bus_call_method(bus, kMutterBus, session.c_str(), "org.gnome.Mutter.ScreenCast.Session", "Start", nullptr,
                           nullptr, "") >= 0) {
        for (int i = 0; i < 200 && node == 0; ++i)
            if (sd_bus_process(bus, nullptr) == 0) sd_bus_wait(bus, 100'000);
        device::Status why;
        PipeWireStream::Options options;
        options.node = std::to_string(node);
        auto read = PipeWireStream::open(
            options,
            [&](const ScreenPicture& picture) {
                if (x >= picture.width || y >= picture.height) return;
                const uint8_t* p =
                    picture.pixels + static_cast<size_t>(y) * picture.stride + static_cast<size_t>(x) * 4;
                const bool bgr = picture.format == ScreenPixelFormat::bgrx || picture.format == ScreenPixelFormat::bgra;
                char text[8];
                std::snprintf(text, sizeof(text), "#%02x%02x%02x", bgr ? p[2] : p[0], p[1], bgr ? p[0] : p[2]);
                colour = text;
            },
            std::chrono::seconds(20));
        if (node != 0 && read.ok()) (void)(*read)->wait(std::chrono::seconds(10), &why);
    }
    if (slot) sd_bus_slot_unref(slot);
    (void)sd_bus_call_method(bus, kMutterBus, session.c_str(), "org.gnome.Mutter.ScreenCast.Session", "Stop", nullptr,
                             nullptr, "");
    return colour;
}

bool WaylandDesktop::sendKey(unsigned keysym, bool down) {
    return sd_bus_call_method(bus_->bus, "org.gnome.Mutter.RemoteDesktop", bus_->keyboard.c_str(),
                              "org.gnome.Mutter.RemoteDesktop.Session", "NotifyKeyboardKeysym", nullptr, nullptr, "ub",
                              keysym, down) >= 0;
}

bool WaylandDesktop::pressKeys(const std::vector<unsigned>& keysyms) {
    for (unsigned key : keysyms) {
        for (bool down : {true, false}) {
            if (!sendKey(key, down)) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        // Each key is seen before the next: focus moves, a row is selected.
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    return true;
}

bool WaylandDesktop::answerShareDialog(bool share) {
    // The dialog sits in the middle of the monitor; its body is a light grey that no test paints.
    const auto shown = [&] {
        const std::string colour = pixelAt(width_ / 2, height_ / 2 + 100);
        return colour.size() == 7 && colour[1] == 'f' && colour[3] == 'f' && colour[5] == 'f';
    };
    if (!BackgroundProcess::waitFor(shown, kStartPatience)) return false;
    if (!share) {
        // Closing the dialog's window (mutter's Alt+F4) cancels, whatever its focus order: the
        // list of monitors fills in after the dialog shows, so counting Tabs to Cancel could end
        // on Share instead.
        bool sent = sendKey(kAlt, true) && sendKey(kF4, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return sendKey(kF4, false) && sendKey(kAlt, false) && sent;
    }
    // The first Tab reaches the "remember" check box, the next the monitor, which Space selects; the
    // next Cancel, and the one after Share. The monitor's row is there once the dialog has settled.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return pressKeys({kTab, kTab, kSpace, kTab, kTab, kSpace});
}

pid_t WaylandDesktop::compositorPid() const {
    for (const auto& [name, process] : processes_)
        if (name == "mutter") return process->pid();
    return -1;
}

void WaylandDesktop::killCompositor() {
    for (auto& [name, process] : processes_)
        if (name == "mutter") process->stop(SIGKILL);
}

std::string WaylandDesktop::logs() const {
    std::string text;
    for (const auto& [name, process] : processes_) text += "--- " + name + ":\n" + process->err();
    return text;
}
