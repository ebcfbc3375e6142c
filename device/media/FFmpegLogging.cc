#include "FFmpegLogging.h"

#include <cstdlib>
#include <mutex>
#include <string_view>

extern "C" {
#include <libavutil/log.h>
}

void setUpFFmpegLogging() {
    static std::once_flag once;
    std::call_once(once, [] {
        int level = AV_LOG_QUIET;
        if (const char* name = std::getenv("GLIMMORA_FFMPEG_LOG")) {
            const std::string_view text(name);
            if (text == "error")
                level = AV_LOG_ERROR;
            else if (text == "warning")
                level = AV_LOG_WARNING;
            else if (text == "info")
                level = AV_LOG_INFO;
            else if (text == "verbose")
                level = AV_LOG_VERBOSE;
            else if (text == "debug")
                level = AV_LOG_DEBUG;
        }
        av_log_set_level(level);
    });
}
