#include "RunProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace {

// Closes what it holds when it goes.
struct Pipe {
    int ends[2] = {-1, -1};
    ~Pipe() {
        for (int fd : ends)
            if (fd >= 0) close(fd);
    }
};

}  // namespace

ProgramOutput runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds timeout) {
    ProgramOutput result;
    Pipe out, err;
    if (pipe2(out.ends, O_CLOEXEC) != 0 || pipe2(err.ends, O_CLOEXEC) != 0) {
        result.err = std::string("cannot make a pipe: ") + std::strerror(errno);
        return result;
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files, out.ends[1], 1);
    posix_spawn_file_actions_adddup2(&files, err.ends[1], 2);
    pid_t pid = -1;
    int error = posix_spawnp(&pid, program.c_str(), &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (error != 0) {
        result.err = program + " cannot be run: " + std::strerror(error);
        return result;
    }
    close(out.ends[1]);
    close(err.ends[1]);
    out.ends[1] = err.ends[1] = -1;

    // Both pipes are read together, so a program that fills one while we wait on the other cannot stall.
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::array<pollfd, 2> watched{pollfd{out.ends[0], POLLIN, 0}, pollfd{err.ends[0], POLLIN, 0}};
    std::array<std::string*, 2> into{&result.out, &result.err};
    int open = 2;
    bool late = false;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            late = true;
            break;
        }
        if (poll(watched.data(), watched.size(), static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].fd < 0 || watched[i].revents == 0) continue;
            char buffer[4096];
            ssize_t got = read(watched[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                into[i]->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                watched[i].fd = -1;
                --open;
            }
        }
    }
    if (late) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (late) {
        result.err += program + " did not end within " + std::to_string(timeout.count() / 1000) + " s";
        return result;
    }
    result.ran = true;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}
