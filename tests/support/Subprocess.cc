#include "Subprocess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string tempFile(const char* role) {
    std::string pattern = (std::filesystem::temp_directory_path() / "glimmora-proc-XXXXXX").string();
    int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error(std::string("cannot create a file for ") + role);
    close(fd);
    return pattern;
}

// Starts `argv` with posix_spawn, so nothing runs in the child between the fork and the exec: the
// tests fork from processes with many threads (and under the sanitizers), where a child that
// allocates or takes a lock before exec can hang for good on a lock another thread held.
pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
            const std::string& outPath, const std::string& errPath, bool appendErr) {
    std::vector<std::string> arguments = argv, variables = environmentWith(environment);
    std::vector<char*> args = pointersTo(arguments), envp = pointersTo(variables);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, outPath.c_str(), O_WRONLY | O_TRUNC, 0);
    int errFlags = appendErr ? O_WRONLY | O_CREAT | O_APPEND : O_WRONLY | O_TRUNC;
    posix_spawn_file_actions_addopen(&files, 2, errPath.c_str(), errFlags, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    int error = posix_spawn(&pid, args[0], &files, &attributes, args.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    if (error != 0) throw std::runtime_error("cannot run " + argv.at(0) + ": " + std::strerror(error));
    return pid;
}

void fillStatus(int status, const rusage& usage, ProcessResult& result) {
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        if (overrides.count(name) == 0) entries.push_back(std::move(text));
    }
    for (auto& [name, value] : overrides) entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::string buildDirectory() { return std::filesystem::canonical("/proc/self/exe").parent_path().string(); }

std::string glimmoraCommand() { return buildDirectory() + "/glimmora"; }

ProcessResult runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                         std::chrono::milliseconds timeout) {
    BackgroundProcess process(argv, environment);
    bool ended = BackgroundProcess::waitFor([&] { return !process.running(); }, timeout);
    ProcessResult result = process.stop(SIGKILL);
    result.timedOut = !ended;
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::map<std::string, std::string>& environment, const std::string& errorLog)
    : outPath_(tempFile("standard output")),
      errPath_(errorLog.empty() ? tempFile("standard error") : errorLog),
      ownsErrPath_(errorLog.empty()) {
    pid_ = spawn(argv, environment, outPath_, errPath_, !ownsErrPath_);
}

BackgroundProcess::~BackgroundProcess() {
    stop(SIGTERM);
    std::remove(outPath_.c_str());
    if (ownsErrPath_) std::remove(errPath_.c_str());
}

bool BackgroundProcess::running() {
    if (finished_) return false;
    int status = 0;
    rusage usage{};
    pid_t done = wait4(pid_, &status, WNOHANG, &usage);
    if (done == pid_) {
        finished_ = true;
        fillStatus(status, usage, result_);
    }
    return !finished_;
}

ProcessResult BackgroundProcess::stop(int signal) {
    if (running()) {
        kill(pid_, signal);
        // Generous: a process under ThreadSanitizer on a loaded machine takes seconds to wind down.
        if (!waitFor([&] { return !running(); }, std::chrono::seconds(15))) {
            kill(pid_, SIGKILL);
            int status = 0;
            rusage usage{};
            wait4(pid_, &status, 0, &usage);
            finished_ = true;
            fillStatus(status, usage, result_);
        }
    }
    result_.out = out();
    result_.err = err();
    return result_;
}

std::string BackgroundProcess::out() const { return readFile(outPath_); }
std::string BackgroundProcess::err() const { return readFile(errPath_); }
void BackgroundProcess::sleepBriefly() { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }
