// The daemon log: one time-stamped line per Report call, written whole and at once.
// Owns the log stream and the lock that keeps lines whole and closing safe.
#pragma once

#include <cstdio>

extern FILE* logFile;

constexpr const char* kLogPath = "/var/log/vigilerd.log";

// Opens the log for appending (close-on-exec). Returns false and leaves errno when it fails.
bool OpenLog(const char* path);

// Writes "<ctime> [<pid>] " and the formatted message as one line with one write.
// Writes nothing when the log is not open.
void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Closes the log if it is open; later Report calls write nothing.
void CloseLog();
