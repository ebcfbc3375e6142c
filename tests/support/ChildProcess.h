// Running a piece of a test in a fresh child process: the run-time, hooks and the library's
// globals are process-wide, so a test that loads the library does it in a child of its own.
#pragma once

#include <chrono>
#include <functional>
#include <string>

// Forks; the child runs `body` and reports what it returns (empty: success, else what went wrong).
// Returns the child's report, or a description of how it died or that it timed out. Call from a
// test's main thread while no other thread of the test holds a lock.
std::string runInChild(const std::function<std::string()>& body,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20));
