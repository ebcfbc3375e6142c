// Running the project's programs as real child processes from tests.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <map>
#include <string>
#include <vector>

// The directory holding the test program, where the build also puts `glimmora` and the libraries.
std::string buildDirectory();
// The path of the `glimmora` command next to the tests.
std::string glimmoraCommand();

// The environment of this process with `overrides` put in, as "NAME=value" texts.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides);
// The texts as the null-terminated array that exec and posix_spawn take; `texts` must outlive it.
std::vector<char*> pointersTo(std::vector<std::string>& texts);

struct ProcessResult {
    int exitCode = -1;  // the exit status, or -1 when killed by a signal
    int signal = 0;     // the signal that ended it, or 0
    bool timedOut = false;
    double cpuSeconds = 0;  // the user and system CPU time it used, once it has ended
    std::string out;
    std::string err;
};

// Runs `argv` with `environment` added to this process's, waits at most `timeout` (then kills it
// with SIGKILL) and returns what it printed.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(30));

// A child that runs while the test goes on: started at construction, stopped with SIGTERM (then
// SIGKILL after two seconds) at `stop` or destruction. Its output goes to files read by `out`/`err`:
// temporary ones, or for standard error `errorLog` when given, appended to and left in place.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment = {},
                      const std::string& errorLog = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Sends `signal` and waits for the end; returns the result as runProcess would.
    ProcessResult stop(int signal = 15);
    // Polls `condition` until it holds or `timeout` passes; returns whether it held.
    template <class F>
    static bool waitFor(F condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (condition()) return true;
            sleepBriefly();
        }
        return condition();
    }
    std::string out() const;
    std::string err() const;

private:
    static void sleepBriefly();
    pid_t pid_ = -1;
    std::string outPath_, errPath_;
    bool ownsErrPath_ = true;
    bool finished_ = false;
    ProcessResult result_;
};
