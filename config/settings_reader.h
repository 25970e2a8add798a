// The daemon's own settings file: the check interval and the four free-space limits.
#pragma once

#include <cstdint>
#include <string>

constexpr const char* kSettingsPath = "/etc/vigilerd.conf";

extern int32_t freeLimitBbram;
extern int32_t criticalLimitBbram;
extern int32_t freeLimitConfig;
extern int32_t criticalLimitConfig;
// Time limits in seconds for status scripts and for the other commands; 0 means none.
extern int32_t statusTimeout;
extern int32_t commandTimeout;
// The hardware watchdog: its device ("" for none), the timeout to set and the seconds without
// a finished pass after which the checks count as stalled; 0 means none.
extern std::string watchdogDevice;
extern int32_t watchdogTimeout;
extern int32_t watchdogStall;
// The reboot budget: at most this many reboots within this many hours; 0 when not set.
extern int32_t rebootBudget;
extern int32_t rebootBudgetHours;

// Returns CHECK_INTERVAL, or -1 when there is none or the file cannot be opened (then the
// daemon is put to sleep for good before it returns).
int ReadVigilerConfig();

// A time-limit key's value as a limit: VALUE_NOT_FOUND and anything not above 0 become 0.
int32_t PositiveOrZero(int32_t value);
