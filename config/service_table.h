// The fixed table of the thirteen monitored services and its sentinel row.
// Owns the service record and the table's initial values.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "config/return_lists.h"

constexpr int32_t kSentinelId = 13;
constexpr int32_t kVoiceId = 8;

struct DaemonConfig {
    int32_t id;
    const char* name;
    std::atomic<int32_t> enabled;  // rewritten by rc.conf passes while a check reads it
    const char* configFile;
    const char* rcConfKey;
    int32_t lastReturn;
    std::optional<std::string> script;
    GoodCmdStructure* goodReturns;
    FailCmdStructure* failCommands;
    int32_t maxFail;
    std::atomic<int32_t> currentFails;
    std::optional<std::string> escalationCmd;
    int32_t failsForEscalation;
    std::optional<std::string> dependsOn;
    int32_t timeout = 0;  // the status script's own time limit in seconds; 0: the default
};

extern DaemonConfig daemonConfigs[14];

// Puts every row back to its initial values, releasing what the rows own.
void ResetServiceTable();
