#include "RestoreToken.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

using device::Status;

namespace {
// A portal's tokens are UUIDs; anything much longer is not one.
constexpr size_t kMaxTokenBytes = 256;
}  // namespace

std::string readRestoreToken(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return "";
    char text[kMaxTokenBytes + 1];
    const ssize_t got = read(fd, text, sizeof(text));
    close(fd);
    if (got <= 0 || static_cast<size_t>(got) > kMaxTokenBytes) return "";
    std::string token(text, static_cast<size_t>(got));
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
    // Only printable text goes back to the desktop.
    for (char c : token)
        if (c < 0x21 || c > 0x7e) return "";
    return token;
}

Status keepRestoreToken(const std::string& path, const std::string& token) {
    const std::string temporary = path + ".new";
    unlink(temporary.c_str());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Status::error("cannot write " + temporary + ": " + std::strerror(errno));
    const std::string text = token + "\n";
    const bool written =
        fchmod(fd, 0600) == 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int error = errno;
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        const int why = written ? errno : error;
        unlink(temporary.c_str());
        return Status::error("cannot keep the screen's restore token in " + path + ": " + std::strerror(why));
    }
    return Status::OK();
}

Status forgetRestoreToken(const std::string& path) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        return Status::error("cannot remove " + path + ": " + std::strerror(errno));
    return Status::OK();
}
