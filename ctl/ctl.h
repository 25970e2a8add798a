// The commands of vigilerctl and what they share: the daemon's process and exit codes.
// Owns the interface between the command dispatcher and each command.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Exit codes shared by the commands (check uses 0, 1 and 2 for clean, warnings, errors).
constexpr int kExitFailure = 1;
constexpr int kExitStale = 3;
constexpr int kExitNotRunning = 4;
constexpr int kExitUsage = 64;

using Arguments = std::vector<std::string>;

int RunCheck(const Arguments& args);
int RunStatus(const Arguments& args);
// pause, hibernate, resume or stop.
int RunModeCommand(const std::string& command, const Arguments& args);

// The pid in the daemon's pid file when it is a live vigilerd process, else -1 (with `why`
// saying what is wrong).
pid_t LiveDaemonPid(std::string& why);
// The same, saying on standard error why there is none.
pid_t LiveDaemonPidOrSay();
