// The daemon's commands under their time limits: status scripts, fail and escalation commands
// and the archiver. Owns the choice of limit and the line that reports one running out.
#pragma once

#include <cstdint>
#include <string>

// Runs `command` like System, ended after `limitSeconds` when that is above 0. A command that
// ran out of time is logged and yields kTimedOutStatus.
int RunLimited(const std::string& command, std::string& output, int32_t limitSeconds);

// The limit of a row's status script: its own TIMEOUT, else the settings' STATUS_TIMEOUT.
int32_t StatusLimit(int32_t rowTimeout);
