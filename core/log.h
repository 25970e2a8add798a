// The daemon log: one time-stamped line per Report call, written whole and at once.
// Owns the log stream, its level filter, its size limit and its copy to the system log.
#pragma once

#include <cstdint>
#include <cstdio>

extern FILE* logFile;

constexpr const char* kLogPath = "/var/log/vigilerd.log";

// Opens the log for appending (close-on-exec). Returns false and leaves errno when it fails.
// The log renamed at its size limit is the same path with ".1" added.
bool OpenLog(const char* path);

// Writes "<ctime> [<pid>] " and the formatted message as one line with one write.
// Writes nothing when the log is not open.
void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Closes the log if it is open; later Report calls write nothing, to the system log neither.
void CloseLog();

// What LOG_LEVEL keeps: every line, or none that begins with "Debug:", or none that begins
// with "Debug:" or "Info:".
enum LogLevel : int32_t { kLogDebug = 0, kLogInfo = 1, kLogWarning = 2 };
// Where kept lines go (LOG_SYSLOG).
enum LogCopy : int32_t { kLogFileOnly = 0, kLogFileAndSystem = 1, kLogSystemOnly = 2 };

// Applies the log keys from the next line on. maxBytes > 0 renames the log before the line
// that would take it past that size; kLogSystemOnly closes the file.
void ConfigureLog(LogLevel level, int64_t maxBytes, LogCopy copy);
