// The daemon's commands under their time limits: status scripts, fail and escalation commands
// and the archiver. Owns the choice of limit and the line that reports one running out.
#include "monitor/limited_command.h"

#include "config/settings_reader.h"
#include "core/log.h"
#include "platform/system.h"

int RunLimited(const std::string& command, std::string& output, int32_t limitSeconds) {
    bool timedOut = false;
    int status = System(command, output, limitSeconds > 0 ? limitSeconds : 0, &timedOut);
    if (timedOut) {
        Report("Warning: cmd = %s timed out after %i seconds\n", command.c_str(),
               static_cast<int>(limitSeconds));
    }
    return status;
}

int32_t StatusLimit(int32_t rowTimeout) {
    return rowTimeout > 0 ? rowTimeout : statusTimeout;
}
