// NSLog: one line to standard error and to the device's system log.
#pragma once

// Formats like printf (C locale) and writes "<time> <process>[<pid>] <message>" as one line to
// standard error and appends it to "system.log" in the device directory. Any thread; lines from
// several threads or processes never interleave within a line.
void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
