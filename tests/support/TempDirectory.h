// A fresh private directory under the system's temporary folder, removed with everything in it
// when the object goes. Tests use one as the device directory.
#pragma once

#include <string>

class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};
