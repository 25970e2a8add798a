// Reading of each service's configuration file into its row of the service table.
// Owns the order of the keys, the per-service error lines and the per-service guard.
#include "config/service_reader.h"

#include <sys/stat.h>

#include <exception>

#include "config/return_lists.h"
#include "config/settings_reader.h"
#include "config/service_table.h"
#include "core/log.h"
#include "platform/config_file.h"

namespace {

bool PathExists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0;
}

bool Absent(const std::string& entry) {
    return entry == ConfigBuffer::ENTRY_NOT_FOUND;
}
bool Absent(int32_t value) {
    return value == ConfigBuffer::VALUE_NOT_FOUND;
}

// Reads one service file into its row. Reading stops at the first error, which disables the
// row; whatever was stored before the error stays. Never enables a row: that is rc.conf's say.
void ReadServiceFile(DaemonConfig& row) {
    const char* configFile = row.configFile;
    MultiSectionConfigFile file(configFile, false, true, false);

    if (file.GotoSection("basic") == 0) {
        Report("Error: Config file error (%s): Section basic not found\n", configFile);
        row.enabled = 0;
        return;
    }

    std::string script = file.GetSectionEntry("SCRIPT");
    if (Absent(script)) {
        Report("Error: Config file error (%s): Section key SCRIPT not found\n", configFile);
        row.enabled = 0;
        return;
    }
    row.script = std::move(script);
    if (!PathExists(row.script->c_str())) {
        Report("Error: Config file error (%s): Script %s not found\n", configFile,
               row.script->c_str());
        row.enabled = 0;
        row.script.reset();
        return;
    }

    std::string dependsOn = file.GetSectionEntry("DEPENDS_ON");
    if (!Absent(dependsOn)) {
        row.dependsOn = std::move(dependsOn);  // empty stays a (present) empty condition
    }

    std::string goodRet = file.GetSectionEntry("GOOD_RET");
    if (Absent(goodRet)) {
        Report("Error: Config file error (%s): Section key GOOD_RET not found\n", configFile);
        row.enabled = 0;
        return;
    }
    GoodCmdStructure* goodReturns = GetNumbers(goodRet);
    // At start-up the list is still empty. Should the reader ever run again over a filled
    // table, the old list would otherwise be lost: nothing else points to it, and no check
    // thread exists while the reader runs, so it can go at once.
    DeleteGoodCmdStructure(row.goodReturns);
    row.goodReturns = goodReturns;

    row.timeout = PositiveOrZero(file.GetSectionValue("TIMEOUT"));

    int32_t failsForEscalation = file.GetSectionValue("FAILS_FOR_ESCALATION");
    row.failsForEscalation = Absent(failsForEscalation) ? -1 : failsForEscalation;

    std::string badRet = file.GetSectionEntry("BAD_RET");
    if (!Absent(badRet)) {
        DeleteFailCmdStructure(row.failCommands);
        row.failCommands = nullptr;  // stays empty if building the new list throws
        row.failCommands = GetNumbers(badRet, configFile, file);
    }

    file.GotoSection("basic");  // the fail-command sections left another one current

    int32_t maxFail = file.GetSectionValue("MAX_FAIL");
    if (Absent(maxFail)) {
        Report("Error: Config file error (%s): Section key MAX_FAIL not found\n", configFile);
        row.enabled = 0;
        return;
    }
    row.maxFail = maxFail;

    std::string escalationCmd = file.GetSectionEntry("ESCALATION_CMD");
    if (!Absent(escalationCmd)) {
        row.escalationCmd = std::move(escalationCmd);
    }

    // An escalation count with nothing to run would leave the service to its fail command
    // for good; say so once, so a forgotten ESCALATION_CMD is found.
    if (row.failsForEscalation != -1 && !row.escalationCmd.has_value()) {
        Report(
            "Warning: Config file error (%s): FAILS_FOR_ESCALATION without ESCALATION_CMD, "
            "never escalating\n",
            configFile);
    }
}

}  // namespace

void ReadServiceConfigs() {
    for (DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        if (!PathExists(row->configFile)) {
            Report("Error: Configuration file %s not found.\n", row->configFile);
            row->enabled = 0;
            continue;
        }
        // One service's unreadable file must not keep the others from being read. Its row
        // keeps the enablement rc.conf gave it; the check cycle copes with missing settings.
        try {
            ReadServiceFile(*row);
        } catch (const std::exception& error) {
            Report("Error: Catched exception: %s\n", error.what());
        }
    }
}
