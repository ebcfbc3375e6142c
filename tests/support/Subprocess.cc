#include "Subprocess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
            const std::string& outPath, const std::string& errPath) {
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        for (auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_TRUNC);
        int err = open(errPath.c_str(), O_WRONLY | O_TRUNC);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
        _exit(127);
    }
    return pid;
}

void fillStatus(int status, ProcessResult& result) {
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

}  // namespace

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
                                     const std::map<std::string, std::string>& environment)
    : outPath_(tempFile("standard output")), errPath_(tempFile("standard error")) {
    pid_ = spawn(argv, environment, outPath_, errPath_);
}

BackgroundProcess::~BackgroundProcess() {
    stop(SIGTERM);
    std::remove(outPath_.c_str());
    std::remove(errPath_.c_str());
}

bool BackgroundProcess::running() {
    if (finished_) return false;
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        finished_ = true;
        fillStatus(status, result_);
    }
    return !finished_;
}

ProcessResult BackgroundProcess::stop(int signal) {
    if (running()) {
        kill(pid_, signal);
        if (!waitFor([&] { return !running(); }, std::chrono::seconds(2))) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            finished_ = true;
            fillStatus(status, result_);
        }
    }
    result_.out = out();
    result_.err = err();
    return result_;
}

std::string BackgroundProcess::out() const { return readFile(outPath_); }
std::string BackgroundProcess::err() const { return readFile(errPath_); }
void BackgroundProcess::sleepBriefly() { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }
