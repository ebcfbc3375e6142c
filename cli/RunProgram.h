// Running another program (systemctl, systemd-escape) to its end and collecting what it printed.
// Any thread; the program runs with standard input from /dev/null and this process's environment.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct ProgramOutput {
    bool ran = false;   // false: it could not be started, or it did not end in time (then killed)
    int exitCode = -1;  // its exit status; -1 when it did not exit by itself
    std::string out;
    std::string err;  // its standard error, or why it did not run or end
    bool succeeded() const { return ran && exitCode == 0; }
};

// Runs `program` (a path, or a name looked up in PATH) with `arguments` and waits at most `timeout`.
ProgramOutput runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));
