// A process the demo starts: `glimmora` itself with other arguments (or another program), in a process group of its
// own, ending when the demo ends (see endWithTheDemo), so that Ctrl-C in the terminal reaches only the demo, which then
// stops its children in order. Its standard output and error go to a log file, so they do not tear the live view.
//
// One thread only.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <base/StatusOr.h>

class DemoChild {
public:
    // Starts `glimmora ARGUMENTS...`, or says why it cannot.
    static device::StatusOr<std::unique_ptr<DemoChild>> start(std::string name,
                                                              const std::vector<std::string>& arguments,
                                                              const std::string& logPath);
    // Starts `program ARGUMENTS...` the same way (a path, or a name looked up in PATH).
    static device::StatusOr<std::unique_ptr<DemoChild>> startProgram(std::string name, const std::string& program,
                                                                     const std::vector<std::string>& arguments,
                                                                     const std::string& logPath);
    // Stops the child if it still runs.
    ~DemoChild();
    DemoChild(const DemoChild&) = delete;
    DemoChild& operator=(const DemoChild&) = delete;

    const std::string& name() const { return name_; }
    const std::string& logPath() const { return logPath_; }
    pid_t pid() const { return pid_; }

    // Whether the child still runs; notes how it ended once it has. Never waits.
    bool running();
    // Sends SIGTERM and waits up to `patience` for the end, then sends SIGKILL and waits.
    void stop(std::chrono::milliseconds patience);
    // True when it ended by itself with status 0 (or by the demo's own SIGTERM, which is a clean stop).
    bool endedWell() const;
    // "exited with status N", "was killed by signal N (name)", "did not end within N s of SIGTERM, so
    // the demo killed it (SIGKILL)", or "is running".
    std::string howItEnded() const;

private:
    DemoChild(std::string name, std::string logPath, pid_t pid)
        : name_(std::move(name)), logPath_(std::move(logPath)), pid_(pid) {}
    void noteEnd(int status);

    std::string name_, logPath_;
    pid_t pid_;
    bool ended_ = false, stoppedByUs_ = false, killedByUs_ = false;
    std::chrono::milliseconds patience_{0};  // given to stop() before SIGKILL
    int exitCode_ = -1, signal_ = 0;
};

// In a process the demo started: makes it end (SIGTERM) when the demo ends, also when the demo is
// killed, so that no home screen or video app outlives it. Does nothing in other processes. Call
// first thing in main, before any thread starts.
void endWithTheDemo();

// The path of the running `glimmora` program.
std::string glimmoraExecutable();
