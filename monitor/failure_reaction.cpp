// What follows a bad status result: count, archive, fail command or escalation.
// Owns the failure count's rises and resets, the voice lock around voice repairs and reboots.
#include "monitor/failure_reaction.h"

#include <cstdio>
#include <string>

#include "config/return_lists.h"
#include "core/daemon.h"
#include "core/hw_watchdog.h"
#include "core/log.h"
#include "config/settings_reader.h"
#include "monitor/limited_command.h"
#include "monitor/log_archive.h"
#include "monitor/reboot_budget.h"
#include "platform/system.h"

namespace {

// Text of the alert that announces a reboot; only the check thread writes it.
char raiseText[200];

// The reboot would cut a call short, so it is taken only while the voice subsystem is idle,
// and the lock is kept so no call can start before the box goes down. False when the reboot
// budget held the reboot back: the row is then repaired as if it had not reached escalation.
bool Escalate(const DaemonConfig& row) {
    const std::string& command = *row.escalationCmd;
    if (command != "reboot") {
        RunLimited(command, emptyResult, commandTimeout);
        return true;
    }
    if (sem.TryLock(true) == 0) {
        Report("Error: Voice subsystem is in use. Could not execute the escalation command\n");
        return true;
    }
    if (!RebootBudgetAllowsEscalation(row.name)) {
        sem.Unlock();  // this attempt's hold only; an earlier reboot's stays
        return false;
    }
    snprintf(raiseText, sizeof raiseText,
             "%s reported too many errors. Executing Escalation Command.", row.name);
    if (event != nullptr) {
        event->Raise(raiseText, "", "");
    }
    System(command, emptyResult);
    // The box must now go down; a shutdown that hangs is finished by the hardware.
    StopKeepalivesForReboot();
    return true;
}

void RunFailCommand(DaemonConfig& row, const FailCmdStructure& record,
                    const std::string& commandLine, std::string& output) {
    Report("Error: Executing the fail command %s\n", record.failCmd->c_str());
    int status;
    if (row.id == kVoiceId) {
        // Repairing voice while a call is up would break the call; try again next failure.
        if (sem.TryLock(true) == 0) {
            Report("Error: Voice subsystem is in use. Could not execute the fail command\n");
            return;
        }
        status = RunLimited(commandLine, emptyResult, commandTimeout);
        sem.Unlock();
    } else {
        status = RunLimited(commandLine, output, commandTimeout);
    }
    if (status == record.goodReturn) {
        Report("Info: Fail Command successfully executed\n");
        row.currentFails = 0;
    } else {
        Report("Error: Fail Command not successfully executed, got Errorcode = %i (%s)\n", status,
               output.c_str());
    }
}

}  // namespace

void ReactToFailure(DaemonConfig& row, int index, int returnValue, std::string& commandLine,
                    std::string& output) {
    Report("Warning: returnValue %i (BAD RETURN) from cmd = %s (%s)\n", returnValue,
           commandLine.c_str(), output.c_str());

    FailCmdStructure* record = GetFailCommand(row.failCommands, returnValue);
    if (record == nullptr || !record->failCmd.has_value()) {
        Report("Error: ***WARNING*** unknown returnvalue %i for ConfigConfiguration[%i]\n",
               returnValue, index);
        return;
    }
    commandLine = *record->failCmd;

    int32_t fails = ++row.currentFails;
    Report("Warning: current fails for %s is %i of max %li\n", row.name, fails,
           static_cast<long>(row.maxFail));
    LogTheBoardState();

    // A row that names a failure count for escalation but no command to escalate with has
    // nothing to escalate to; its fail command keeps repairing it instead.
    bool escalates = row.failsForEscalation != -1 && row.escalationCmd.has_value() &&
                     fails >= row.failsForEscalation;
    if (escalates && Escalate(row)) {
        return;
    }
    if (fails >= row.maxFail) {
        RunFailCommand(row, *record, commandLine, output);
    }
}
