// The commands of vigilerctl and what they share: the daemon's process and exit codes.
// Owns the interface between the command dispatcher and each command.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "config/service_table.h"

// Exit codes shared by the commands (check uses 0, 1 and 2 for clean, warnings, errors).
constexpr int kExitFailure = 1;
constexpr int kExitStale = 3;
constexpr int kExitNotRunning = 4;
constexpr int kExitAsleep = 5;
constexpr int kExitUsage = 64;

using Arguments = std::vector<std::string>;

int RunCheck(const Arguments& args);
int RunStatus(const Arguments& args);
// reboots [--clear]
int RunReboots(const Arguments& args);
// pause, hibernate, resume or stop.
int RunModeCommand(const std::string& command, const Arguments& args);

struct ServiceState {
    const char* name;
    int32_t enabled, lastReturn, currentFails, maxFail, failsForEscalation;
    long long lastCheck;
    int32_t dependency;
};

// What the state file says.
struct State {
    std::string mode, reason;
    int32_t pid, interval;
    long long started, passStart, passEnd, written, since, waitEnd;
    // The hardware watchdog; the device reads as absent when the daemon has none configured.
    std::string watchdogDevice, watchdogState;
    int32_t watchdogTimeout;
    long long lastKeepalive;
    // The reboot budget (allowed 0 without one), counted from the record at this moment.
    int32_t budget = 0, budgetHours = 0, budgetUsed = 0;
    int64_t nextReboot = 0;
    ServiceState services[kSentinelId];
};

// The state file, read with the daemon's own library; false when it holds no state.
bool ReadState(State& state);

// Local time "YYYY-MM-DD HH:MM:SS", "-" for 0.
std::string Clock(long long seconds);

// The pid in the daemon's pid file when it is a live vigilerd process, else the pid in the
// state file when that is one (a daemon asleep for good has no pid file), else -1 (with `why`
// saying what is wrong with the pid file).
pid_t LiveDaemonPid(std::string& why);
// The same, saying on standard error why there is none.
pid_t LiveDaemonPidOrSay();
