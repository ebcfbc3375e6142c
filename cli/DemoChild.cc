#include "DemoChild.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace {
// Set in a child's environment to the demo's process id.
constexpr const char* kDemoVariable = "GLIMMORA_DEMO_PARENT";
}  // namespace

void endWithTheDemo() {
    const char* parent = std::getenv(kDemoVariable);
    if (parent == nullptr) return;
    pid_t demo = static_cast<pid_t>(std::atol(parent));
    unsetenv(kDemoVariable);  // not passed on further
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != demo) raise(SIGTERM);  // the demo died before the line above took effect
}

std::string glimmoraExecutable() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "glimmora";
    return std::string(path, static_cast<size_t>(length));
}

device::StatusOr<std::unique_ptr<DemoChild>> DemoChild::start(std::string name,
                                                              const std::vector<std::string>& arguments,
                                                              const std::string& logPath) {
    return startProgram(std::move(name), glimmoraExecutable(), arguments, logPath);
}

device::StatusOr<std::unique_ptr<DemoChild>> DemoChild::startProgram(std::string name, const std::string& program,
                                                                     const std::vector<std::string>& arguments,
                                                                     const std::string& logPath) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    // The demo catches SIGINT and SIGTERM; its children must answer them as they do by default.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> environment = {std::string(kDemoVariable) + "=" + std::to_string(getpid())};
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, kDemoVariable, std::strlen(kDemoVariable)) != 0)
            environment.emplace_back(*variable);
    std::vector<char*> environmentPointers;
    for (std::string& variable : environment) environmentPointers.push_back(variable.data());
    environmentPointers.push_back(nullptr);
    pid_t pid = -1;
    int failure = posix_spawnp(&pid, program.c_str(), &files, &attributes, pointers.data(), environmentPointers.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (failure != 0)
        return device::Status::error("cannot start " + name + " (" + program + "): " + std::strerror(failure));
    return std::unique_ptr<DemoChild>(new DemoChild(std::move(name), logPath, pid));
}

DemoChild::~DemoChild() {
    if (running()) stop(std::chrono::seconds(2));
}

void DemoChild::noteEnd(int status) {
    ended_ = true;
    if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
}

bool DemoChild::running() {
    if (ended_) return false;
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {
        if (done == pid_)
            noteEnd(status);
        else
            ended_ = true;
        return false;
    }
    return true;
}

void DemoChild::stop(std::chrono::milliseconds patience) {
    if (!running()) return;
    stoppedByUs_ = true;
    kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (running()) {
        killedByUs_ = true;
        patience_ = patience;
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        noteEnd(status);
    }
}

bool DemoChild::endedWell() const {
    if (!ended_) return false;
    if (exitCode_ == 0) return true;
    return stoppedByUs_ && signal_ == SIGTERM;
}

std::string DemoChild::howItEnded() const {
    if (!ended_) return "is running";
    if (killedByUs_ && signal_ == SIGKILL) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", std::chrono::duration<double>(patience_).count());
        return std::string("did not end within ") + seconds + " s of SIGTERM, so the demo killed it (SIGKILL)";
    }
    if (signal_ != 0) return "was killed by signal " + std::to_string(signal_) + " (" + strsignal(signal_) + ")";
    return "exited with status " + std::to_string(exitCode_);
}
