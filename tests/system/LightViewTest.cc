// `glimmora lights` on a terminal: the table is drawn in place, every line fits the terminal's
// width (a wrapped line would throw each redraw off by a line), and the cursor comes back at the end.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

using ::testing::HasSubstr;

struct TerminalRun {
    std::string output;
    int exitCode = -1;
};

// Reads what is there on `fd` for `duration` (or until it ends) into `out`.
void readFor(int fd, std::chrono::milliseconds duration, std::string* out) {
    auto deadline = std::chrono::steady_clock::now() + duration;
    char buffer[4096];
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) return;  // EIO once the last writer has gone
        out->append(buffer, static_cast<size_t>(got));
    }
}

// Runs `glimmora lights` on a terminal of `columns` columns for a second, then Ctrl-C.
TerminalRun runLightsOnTerminal(const std::string& device, unsigned short columns) {
    TerminalRun run;
    int master = -1, slave = -1;
    winsize size{};
    size.ws_row = 40;
    size.ws_col = columns;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
        ADD_FAILURE() << "openpty: " << std::strerror(errno);
        return run;
    }
    std::vector<std::string> arguments = {glimmoraCommand(), "lights"},
                             variables = environmentWith({{"GLIMMORA_DEVICE", device}});
    std::vector<char*> argv = pointersTo(arguments), envp = pointersTo(variables);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, slave, STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&files, master);
    pid_t pid = -1;
    int error = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    close(slave);
    if (error != 0) {
        ADD_FAILURE() << "cannot start glimmora lights: " << std::strerror(error);
        close(master);
        return run;
    }
    readFor(master, std::chrono::milliseconds(1500), &run.output);
    kill(pid, SIGINT);
    readFor(master, std::chrono::seconds(5), &run.output);
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    return run;
}

// The characters a terminal shows of `line`: escape sequences and carriage returns take no room.
size_t visibleWidth(const std::string& line) {
    size_t width = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        auto byte = static_cast<unsigned char>(line[i]);
        if (byte == 0x1b && i + 1 < line.size() && line[i + 1] == '[') {
            i += 2;
            while (i < line.size() && !(line[i] >= 0x40 && line[i] <= 0x7e)) ++i;
            continue;
        }
        if (byte == '\r' || (byte & 0xc0) == 0x80) continue;
        ++width;
    }
    return width;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(LightsCommand, OnATerminalEveryLineFitsItsWidthAndTheCursorComesBack) {
    TempDirectory directory;
    const std::string device = directory.path() + "/device";
    ProcessResult installed = runProcess({glimmoraCommand(), "home", "init"}, {{"GLIMMORA_DEVICE", device}});
    ASSERT_EQ(installed.exitCode, 0) << installed.err;

    TerminalRun narrow = runLightsOnTerminal(device, 40);
    EXPECT_EQ(narrow.exitCode, 0);
    EXPECT_THAT(narrow.output, HasSubstr("\x1b[?25l")) << "the cursor is hidden while the table is drawn";
    EXPECT_THAT(narrow.output, HasSubstr("ROOM"));
    EXPECT_THAT(narrow.output, HasSubstr("Living Room"));
    EXPECT_NE(narrow.output.rfind("\x1b[?25h"), std::string::npos) << "the cursor comes back";
    EXPECT_GT(narrow.output.rfind("\x1b[?25h"), narrow.output.rfind("\x1b[J"));
    size_t widest = 0;
    for (const std::string& line : linesOf(narrow.output)) widest = std::max(widest, visibleWidth(line));
    EXPECT_LE(widest, 39u) << narrow.output;

    // Wide enough, nothing is cut: the unselected rooms' note is there in full.
    TerminalRun wide = runLightsOnTerminal(device, 200);
    EXPECT_EQ(wide.exitCode, 0);
    EXPECT_THAT(wide.output, HasSubstr("(room not selected)"));
}

// A room and a light named with sequences that would clear the screen and retitle the window.
TEST(LightsCommand, NamesShowEscapedAndCannotActOnTheTerminal) {
    TempDirectory directory;
    const std::string device = directory.path() + "/device";
    const std::string file = directory.path() + "/hostile.json";
    std::ofstream(file) << R"({"homes": [{"name": "Casa", "rooms": [{"name": "Den\u001b[2J", "accessories": [
        {"name": "Lamp", "services": [{"type": "lightbulb", "name": "Bulb\u001b]0;owned\u0007\u009b", "characteristics": [
            {"type": "power"}]}]}]}]}]})";
    ProcessResult installed = runProcess({glimmoraCommand(), "home", "load", file}, {{"GLIMMORA_DEVICE", device}});
    ASSERT_EQ(installed.exitCode, 0) << installed.err;

    TerminalRun run = runLightsOnTerminal(device, 200);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_THAT(run.output, HasSubstr(R"(Den\x1b[2J)"));
    EXPECT_THAT(run.output, HasSubstr(R"(Bulb\x1b]0;owned)"));
    for (const char* raw : {"\x1b[2J", "\x1b]", "\x07", "\xc2\x9b"})
        EXPECT_EQ(run.output.find(raw), std::string::npos) << "a control sequence from a name got through";
}

}  // namespace
