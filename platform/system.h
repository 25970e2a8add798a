// Runs one shell command line to its end and collects what it printed.
// Owns child-process start-up, output capture and exit-status decoding.
#pragma once

#include <cstddef>
#include <string>

// Output kept per command; the rest is read and dropped so the child never blocks.
constexpr size_t kMaxCommandOutput = 4096;

// Sink for output nobody reads.
extern std::string emptyResult;

// Runs "/bin/sh -c command" and waits for the shell to end. The child starts with default
// signal dispositions, an empty signal mask and stdin from /dev/null; stdout and stderr both
// go into `output`, which is replaced (at most kMaxCommandOutput bytes are kept). Returns the
// exit code, 128+N when the shell was killed by signal N, or -1 when no status can be had.
// Returns as soon as the shell itself has ended, even when a process it started in the
// background still holds the output pipe.
int System(std::string command, std::string& output);
