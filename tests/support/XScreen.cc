#include "XScreen.h"

#include <unistd.h>
#include <csignal>

namespace {

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr const char* kXlogo = "/usr/bin/xlogo";
constexpr const char* kXwininfo = "/usr/bin/xwininfo";

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

bool XScreen::available() { return access(kXvfb, X_OK) == 0 && access(kXlogo, X_OK) == 0; }

XScreen::XScreen(int width, int height) {
    // A display whose socket and lock are free; Xvfb refuses a taken one, and the next is tried.
    for (int number = 90; number < 190 && !server_; ++number) {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (exists(socket) || exists("/tmp/.X" + std::to_string(number) + "-lock")) continue;
        const std::string display = std::string(":").append(std::to_string(number));
        auto server = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{kXvfb, display, "-nolisten", "tcp", "-noreset", "-screen", "0",
                                     std::to_string(width) + "x" + std::to_string(height) + "x24"});
        // Ready once a client can ask it about its root window.
        const bool ready = BackgroundProcess::waitFor(
            [&] {
                return !server->running() ||
                       (exists(socket) && runProcess({kXwininfo, "-display", display, "-root"}).exitCode == 0);
            },
            std::chrono::seconds(20));
        if (ready && server->running()) {
            display_ = display;
            server_ = std::move(server);
        }
    }
}

XScreen::~XScreen() {
    if (server_) server_->stop(SIGTERM);
}

void XScreen::kill() {
    if (!server_) return;
    server_->stop(SIGKILL);
    // A killed server leaves its socket and lock behind: they would keep the display taken.
    const std::string number = display_.substr(1);
    unlink(("/tmp/.X11-unix/X" + number).c_str());
    unlink(("/tmp/.X" + number + "-lock").c_str());
}

std::unique_ptr<BackgroundProcess> XScreen::paint(const std::string& colour, int x, int y, int width,
                                                  int height) const {
    const std::string geometry =
        std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" + std::to_string(y);
    auto window = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{kXlogo, "-display", display_, "-bg", colour, "-fg", colour, "-geometry", geometry});
    // Mapped once the server lists a window of that geometry.
    const bool shown = BackgroundProcess::waitFor(
        [&] {
            ProcessResult tree = runProcess({kXwininfo, "-display", display_, "-root", "-tree"});
            return tree.out.find(std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" +
                                 std::to_string(y)) != std::string::npos;
        },
        std::chrono::seconds(20));
    return shown ? std::move(window) : nullptr;
}
