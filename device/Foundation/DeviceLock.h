// A lock that one process of a device holds while it reads, changes and writes back files that
// several commands edit (the home description and the HomeKit keyring), so that two changes at
// once cannot lose each other's work. An advisory lock (flock) on a private file in the device
// directory: the kernel lets it go when the holder exits, however it exits.
#pragma once

#include <functional>
#include <string>

#include "../base/Status.h"

namespace device {

class DeviceLock {
public:
    DeviceLock() = default;
    DeviceLock(DeviceLock&& other) noexcept;
    DeviceLock& operator=(DeviceLock&& other) noexcept;
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    ~DeviceLock();

    // Takes the lock `name` of the device directory `directory` (the file "<name>.lock" there),
    // waiting while another process holds it; `waiting` is called once first when it must wait.
    // The directory must exist; a symbolic link at the lock file is refused.
    static Status acquire(const std::string& directory, const std::string& name, DeviceLock* lock,
                          const std::function<void()>& waiting = {});

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The lock every change to the home description and the keyring takes, with a note on standard
// error when another change must finish first.
Status lockHomeChanges(const std::string& directory, DeviceLock* lock);

}  // namespace device
