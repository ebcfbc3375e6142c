#include "NSLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "DeviceDirectory.h"
#include "FoundationDevice.h"
#include "NSBundle.h"
#include "NSString.h"

namespace device {
std::string systemLogPath() { return deviceDirectory() + "/system.log"; }
}  // namespace device

void NSLog(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Strong<NSString> message = NSString::stringWithFormatV(format, arguments);
    va_end(arguments);

    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    NSString* bundle = NSBundle::mainBundle()->bundleIdentifier();
    char prefix[160];
    std::snprintf(prefix, sizeof prefix, "%s.%03ld %s[%d] ", stamp, static_cast<long>(now.tv_usec / 1000),
                  bundle ? bundle->UTF8String() : "process", static_cast<int>(getpid()));
    std::string line = prefix + message->string() + "\n";

    // One write per destination keeps each line whole.
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    // Not through a symbolic link, and never waiting on a FIFO put there; a full disk only loses the
    // line in the log.
    int log = open(device::systemLogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                   0600);
    if (log >= 0) {
        struct stat info {};
        if (fstat(log, &info) == 0 && S_ISREG(info.st_mode)) {
            // A log made before logs were private keeps its mode until a line narrows it.
            if ((info.st_mode & 07777) != 0600) fchmod(log, 0600);
            ignored = write(log, line.data(), line.size());
        }
        close(log);
    }
    (void)ignored;
}
