// The demo's temporary device: a fresh directory "glimmora-demo-XXXXXX" under $TMPDIR (else /tmp),
// removed when the demo ends. Its lock file is held by the demo and inherited by every process the
// demo starts, so it is locked for as long as any of them lives; a demo that was killed (SIGKILL)
// leaves it unlocked, and the next demo removes such stale devices before making its own.
//
// One thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <base/StatusOr.h>

class TemporaryDevice {
public:
    // Removes stale devices (their paths go to `*removed`, also when it fails) and makes a new one,
    // or says why it cannot.
    static device::StatusOr<std::unique_ptr<TemporaryDevice>> make(std::vector<std::string>* removed);
    ~TemporaryDevice();
    TemporaryDevice(const TemporaryDevice&) = delete;
    TemporaryDevice& operator=(const TemporaryDevice&) = delete;

    const std::string& path() const { return path_; }

private:
    TemporaryDevice(std::string path, int lock) : path_(std::move(path)), lock_(lock) {}
    std::string path_;
    int lock_;
};
