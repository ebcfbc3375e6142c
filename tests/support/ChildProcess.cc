#include "ChildProcess.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

std::string runInChild(const std::function<std::string()>& body, std::chrono::milliseconds timeout) {
    int report[2];
    if (pipe(report) != 0) return "cannot make a pipe";
    pid_t pid = fork();
    if (pid < 0) return "cannot fork";
    if (pid == 0) {
        close(report[0]);
        std::string result;
        try {
            result = body();
        } catch (const std::exception& e) {
            result = std::string("exception: ") + e.what();
        }
        if (result.empty()) result = "ok";
        ssize_t ignored = write(report[1], result.data(), result.size());
        (void)ignored;
        _exit(0);
    }
    close(report[1]);
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[512];
    bool timedOut = false;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd waiting{report[0], POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0) continue;
        ssize_t got = read(report[0], buffer, sizeof buffer);
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    close(report[0]);
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (timedOut) return "the child timed out";
    if (WIFSIGNALED(status)) return "the child died of signal " + std::to_string(WTERMSIG(status));
    if (text == "ok") return {};
    return text.empty() ? "the child reported nothing" : text;
}
