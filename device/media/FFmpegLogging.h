// Private to media/: FFmpeg's own logging. Damaged input makes libavcodec print a line per error
// to standard error; the media layer reports errors as statuses instead, so FFmpeg is kept quiet
// unless GLIMMORA_FFMPEG_LOG names a level ("error", "warning", "info", "verbose", "debug").
#pragma once

// Sets FFmpeg's log level once per process; every media entry point calls it first. Thread-safe.
void setUpFFmpegLogging();
