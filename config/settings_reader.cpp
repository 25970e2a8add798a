// The daemon's own settings file: the check interval, the four free-space limits, the time
// limits and the log keys. Read once at start-up, before any other thread exists.
#include "config/settings_reader.h"

#include <exception>
#include <string>

#include "core/log.h"
#include "core/signals.h"
#include "platform/config_file.h"

// Written only here, at start-up; read afterwards by the space check, the command runs and
// the reboot budget.
int32_t freeLimitBbram = 0;
int32_t criticalLimitBbram = 0;
int32_t freeLimitConfig = 0;
int32_t criticalLimitConfig = 0;
int32_t statusTimeout = 0;
int32_t commandTimeout = 0;
std::string watchdogDevice;
int32_t watchdogTimeout = 0;
int32_t watchdogStall = 0;
int32_t rebootBudget = 0;
int32_t rebootBudgetHours = 0;

int32_t PositiveOrZero(int32_t value) {
    return value == ConfigBuffer::VALUE_NOT_FOUND || value <= 0 ? 0 : value;
}

int ReadVigilerConfig() {
    int result = -1;
    try {
        ConfigFile settings(kSettingsPath, false, false);
        // The file is read at the first lookup, so a missing file throws from there.
        auto lookup = [&settings](const char* key) {
            if (!settings.IsRead()) {
                settings.ReadFile();
            }
            return settings.Buffer().GetValue(key);
        };

        // The log keys first: they apply from the moment the file is read.
        int32_t copy = lookup("LOG_SYSLOG");
        std::string level = settings.Buffer().GetEntry("LOG_LEVEL");
        ConfigureLog(level == "info" ? kLogInfo : level == "warning" ? kLogWarning : kLogDebug,
                     int64_t{PositiveOrZero(lookup("LOG_MAX_KB"))} * 1024,
                     copy == 1 ? kLogFileAndSystem : copy == 2 ? kLogSystemOnly : kLogFileOnly);

        int32_t interval = lookup("CHECK_INTERVAL");
        if (interval == ConfigBuffer::VALUE_NOT_FOUND) {
            Report("Error: failed to get the value from CHECK_INTERVAL\n");
        } else {
            result = interval;
        }

        // A missing limit is stored as it came back: every share then lies below it.
        freeLimitBbram = lookup("FREE_LIMIT_BBRAM");
        if (freeLimitBbram == ConfigBuffer::VALUE_NOT_FOUND) {
            Report("Error: failed to get the value from FREE_LIMIT_BBRAM\n");
        }
        criticalLimitBbram = lookup("CRITICAL_LIMIT_BBRAM");
        if (criticalLimitBbram == ConfigBuffer::VALUE_NOT_FOUND) {
            Report("Error: failed to get the value from CRITICAL_LIMIT_BBRAM\n");
        }
        freeLimitConfig = lookup("FREE_LIMIT_CONFIG");
        if (freeLimitConfig == ConfigBuffer::VALUE_NOT_FOUND) {
            Report("Error: failed to get the value from FREEL_LIMIT_CONFIG\n");
        }
        criticalLimitConfig = lookup("CRITICAL_LIMIT_CONFIG");
        if (criticalLimitConfig == ConfigBuffer::VALUE_NOT_FOUND) {
            Report("Error: failed to get the value from CRITICAL_LIMIT_CONFIG\n");
        }
        // Optional: absent, not a number or not above 0 all mean no limit, silently.
        statusTimeout = PositiveOrZero(lookup("STATUS_TIMEOUT"));
        commandTimeout = PositiveOrZero(lookup("COMMAND_TIMEOUT"));
        std::string device = settings.Buffer().GetEntry("WATCHDOG_DEVICE");
        watchdogDevice = device == ConfigBuffer::ENTRY_NOT_FOUND ? "" : device;
        watchdogTimeout = PositiveOrZero(lookup("WATCHDOG_TIMEOUT"));
        watchdogStall = PositiveOrZero(lookup("WATCHDOG_STALL"));
        rebootBudget = PositiveOrZero(lookup("REBOOT_BUDGET"));
        rebootBudgetHours = PositiveOrZero(lookup("REBOOT_BUDGET_HOURS"));
    } catch (const std::exception&) {
        Report("Error: failed to open /etc/vigilerd.conf, going to sleep\n");
        IgnoreAllSignals(true, "settings");
    }
    return result;
}
