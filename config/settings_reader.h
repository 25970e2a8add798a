// The daemon's own settings file: the check interval and the four free-space limits.
#pragma once

#include <cstdint>

constexpr const char* kSettingsPath = "/etc/vigilerd.conf";

extern int32_t freeLimitBbram;
extern int32_t criticalLimitBbram;
extern int32_t freeLimitConfig;
extern int32_t criticalLimitConfig;

// Returns CHECK_INTERVAL, or -1 when there is none or the file cannot be opened (then the
// daemon is put to sleep for good before it returns).
int ReadVigilerConfig();
