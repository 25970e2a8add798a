// One pass over the service table: run each enabled service's status script and judge it.
// Owns the order of a pass, the timer pause around it and the check thread's running flag.
#include "monitor/check_cycle.h"

#include <iterator>
#include <mutex>
#include <string>

#include "config/return_lists.h"
#include "config/service_table.h"
#include "core/daemon.h"
#include "core/hw_watchdog.h"
#include "core/log.h"
#include "core/run_modes.h"
#include "core/state_file.h"
#include "core/timer.h"
#include "monitor/dependency.h"
#include "monitor/failure_reaction.h"
#include "monitor/limited_command.h"
#include "monitor/space_check.h"
#include "platform/system.h"

namespace {

// Checks one row from start to end; a stop request never cuts a row in half.
void CheckService(DaemonConfig& row, int index) {
    if (row.enabled.load() != 1) {
        return;
    }
    // An rc.conf re-read can switch on a row whose file never gave a script; there is
    // nothing to run, and counting it as a failure would set off its repairs for nothing.
    if (!row.script.has_value()) {
        Report("Error: Service %s has no status script, skipped\n", row.name);
        return;
    }
    if (row.dependsOn.has_value() && CheckDepend(row.dependsOn->c_str()) == 0) {
        Report("Debug: Dependancy not solved: %s. continue.\n", row.script->c_str());
        NoteServiceCheck(index, 0, row.lastReturn);
        return;
    }

    std::string commandLine = *row.script + " status";
    Report("Debug: Calling %s\n", commandLine.c_str());
    std::string output;
    int returnValue = RunLimited(commandLine, output, StatusLimit(row.timeout));
    Report("Debug: Return value: %d\n", returnValue);
    row.lastReturn = returnValue;
    NoteServiceCheck(index, row.dependsOn.has_value() ? 1 : -1, returnValue);

    if (IsGoodReturnValue(row.goodReturns, returnValue) != 0) {
        row.currentFails = 0;
    } else {
        ReactToFailure(row, index, returnValue, commandLine, output);
    }
}

}  // namespace

void RunCheckPass() {
    Report("Debug: Thread CheckAllStati started\n");
    checkRunning = 1;
    NotePassStart();
    // The interval counts from the end of one pass to the start of the next, so no tick can
    // fall due while scripts run.
    SetTimer(0);
    CheckFileSystemSpace();

    constexpr int kRows = static_cast<int>(std::size(daemonConfigs));
    for (int index = 0; index < kRows && daemonConfigs[index].id != kSentinelId; ++index) {
        if (stopChecks.load() != 0) {
            break;
        }
        CheckService(daemonConfigs[index], index);
    }
    NotePassEnd();
    NoteChecksAlive();

    // A signal reaction that tests checkRunning must see either a running pass or one that
    // has re-armed the timer and gone.
    std::lock_guard<std::mutex> lock(modeMutex);
    SetTimer(poll);
    checkRunning = 0;
    Report("Debug: Thread CheckAllStati terminated\n");
}

void* CheckAllStati(void*) {
    RunCheckPass();
    return nullptr;
}
