// Runs one shell command line to its end and collects what it printed.
// Owns child-process start-up, output capture and exit-status decoding.
#pragma once

#include <cstddef>
#include <string>

// Status of a command that outlived its time limit, as timeout(1) reports it.
constexpr int kTimedOutStatus = 124;
// Seconds between the SIGTERM and the SIGKILL that end a command past its time limit.
constexpr int kKillGraceSeconds = 2;

// Output kept per command; the rest is read and dropped so the child never blocks.
constexpr size_t kMaxCommandOutput = 4096;

// Sink for output nobody reads.
extern std::string emptyResult;

// Runs "/bin/sh -c command" in a process group of its own and waits for the shell to end.
// A plain command line (see command_line.h) runs its program directly instead, the same in
// every other respect; the shell is then "the shell" below.
// The child starts with default signal dispositions, an empty signal mask and stdin from
// /dev/null; stdout and stderr both go into `output`, which is replaced (at most
// kMaxCommandOutput bytes are kept). Returns the exit code, 128+N when the shell was killed by
// signal N, or -1 when no status can be had. Returns as soon as the shell itself has ended,
// even when a process it started in the background still holds the output pipe.
// With timeoutSeconds > 0, a shell still running after that long has its process group sent
// SIGTERM, and SIGKILL kKillGraceSeconds later if the shell has still not ended; the result is
// then kTimedOutStatus, with the output collected so far, and *timedOut (when given) is set.
int System(std::string command, std::string& output, int timeoutSeconds = 0,
           bool* timedOut = nullptr);
