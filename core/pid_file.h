// The pid file and the lock on it that keeps a second daemon from starting beside the first.
// Owns opening, locking and writing /var/run/vigilerd.pid.
#pragma once

#include <sys/types.h>

// LockPidFile's answer when another process holds the lock.
constexpr int kPidFileHeld = -2;

// Opens the pid file (creating it only with `create`) and takes its write lock without
// waiting, leaving its content alone. Returns the descriptor, which stays open for the rest
// of the process so the lock lasts as long as the process; -1 with errno when the file cannot
// be opened; kPidFileHeld with `holder` set when another process has the lock.
int LockPidFile(bool create, pid_t& holder);

// Replaces the content of the locked pid file with this process's id and a newline.
void WritePid(int fd);
