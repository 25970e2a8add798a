// The state file: the daemon's mode, interval, pass times and each service's last check,
// rewritten whole for vigilerctl status. Owns the check records and the writing of the file.
#include "core/state_file.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "config/service_table.h"
#include "core/hw_watchdog.h"
#include "config/settings_reader.h"
#include "core/log.h"
#include "core/run_modes.h"
#include "core/signals.h"
#include "platform/replace_file.h"

namespace {

constexpr const char* kStateTemp = "/var/run/vigilerd.state.tmp";

// Written by the check thread (the limits by start-up), read by whichever thread writes the
// file.
struct CheckRecord {
    int64_t lastCheck = 0;  // under timesMutex
    std::atomic<int32_t> dependency{-1};
    std::atomic<int32_t> lastReturn{-1};
    std::atomic<int32_t> maxFail{-1};
    std::atomic<int32_t> failsForEscalation{-1};
};
CheckRecord records[kSentinelId];
// -1 until start-up has handed over its values; the rows are written only from then on.
std::atomic<int32_t> interval{-1};
std::atomic<int32_t> rowsKnown{0};
// The reboot budget's two settings; both 0 when there is no budget.
std::atomic<int32_t> budget{0};
std::atomic<int32_t> budgetHours{0};

const int64_t processStart = time(nullptr);
// 64-bit times behind a mutex: 32-bit CPUs such as MIPS have no lock-free 64-bit atomics, and
// the library that would emulate them is often missing from router images.
std::mutex timesMutex;
int64_t passStart = 0;
int64_t passEnd = 0;
int64_t since = 0;    // start of the pause or of the sleep for good; 0 while checking
int64_t waitEnd = 0;  // when the running wait is due to end; 0 without a wait
std::atomic<const char*> sleepReason{""};

int64_t Locked(const int64_t& time) {
    std::lock_guard<std::mutex> lock(timesMutex);
    return time;
}

void SetLocked(int64_t& time) {
    std::lock_guard<std::mutex> lock(timesMutex);
    time = ::time(nullptr);
}

// Writers come from the check, signal, wait and main threads; one at a time owns the
// temporary file.
std::mutex writeMutex;
bool failureLogged = false;  // under writeMutex

const char* ModeName() {
    if (asleepForGood.load() != 0) {
        return "asleep";
    }
    if (hibernateMode.load() != 0) {
        return "hibernating";
    }
    if (waitingRunning.load() != 0) {
        return "waiting";
    }
    return "running";
}

// "KEY=value\n". The file has some seven lines per service and is written every pass, so the
// numbers are turned into text directly rather than through printf's format parser.
void AddLine(std::string& text, const char* key, long long value) {
    char digits[24];
    char* const end = digits + sizeof digits;
    char* at = end;
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
        *--at = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        *--at = '-';
    }
    text += key;
    text.append(at, static_cast<size_t>(end - at));
    text += '\n';
}

std::string StateText() {
    std::string text;
    text.reserve(2048);
    text += "[vigilerd]\n";
    static const long long pid = getpid();  // the daemon never forks
    AddLine(text, "PID=", pid);
    text += "MODE=";
    text += ModeName();
    text += "\n";
    AddLine(text, "INTERVAL=", interval.load());
    AddLine(text, "STARTED=", processStart);
    AddLine(text, "PASS_START=", Locked(passStart));
    AddLine(text, "PASS_END=", Locked(passEnd));
    AddLine(text, "WRITTEN=", static_cast<long long>(time(nullptr)));
    text += "REASON=";
    text += asleepForGood.load() != 0 ? sleepReason.load() : "";
    text += "\n";
    AddLine(text, "SINCE=", Locked(since));
    AddLine(text, "WAIT_END=", Locked(waitEnd));
    AppendHardwareWatchdogState(text);
    if (budget.load() > 0) {
        AddLine(text, "REBOOT_BUDGET=", budget.load());
        AddLine(text, "REBOOT_BUDGET_HOURS=", budgetHours.load());
    }
    if (rowsKnown.load() == 0) {
        return text;
    }
    for (int index = 0; index < kSentinelId; ++index) {
        const DaemonConfig& row = daemonConfigs[index];
        const CheckRecord& record = records[index];
        text += "\n[";
        text += row.name;
        text += "]\n";
        AddLine(text, "ENABLED=", row.enabled.load());
        AddLine(text, "LAST_RETURN=", record.lastReturn.load());
        AddLine(text, "CURRENT_FAILS=", row.currentFails.load());
        AddLine(text, "MAX_FAIL=", record.maxFail.load());
        AddLine(text, "FAILS_FOR_ESCALATION=", record.failsForEscalation.load());
        AddLine(text, "LAST_CHECK=", Locked(record.lastCheck));
        AddLine(text, "DEPENDENCY_HELD=", record.dependency.load());
    }
    return text;
}

}  // namespace

void WriteStateFile() {
    std::lock_guard<std::mutex> lock(writeMutex);
    int error = ReplaceFile(kStatePath, kStateTemp, StateText(), false);
    // A daemon going to sleep for good has said its last line; the state file says the rest.
    if (error != 0 && !failureLogged && asleepForGood.load() == 0) {
        failureLogged = true;
        Report("Warning: could not write %s (%d = %s)\n", kStatePath, error, strerror(error));
    }
}

void StartStateFile(int32_t checkInterval) {
    for (int index = 0; index < kSentinelId; ++index) {
        records[index].maxFail = daemonConfigs[index].maxFail;
        records[index].failsForEscalation = daemonConfigs[index].failsForEscalation;
    }
    interval = checkInterval;
    if (rebootBudget > 0 && rebootBudgetHours > 0) {
        budgetHours = rebootBudgetHours;
        budget = rebootBudget;
    }
    rowsKnown = 1;
    WriteStateFile();
}

void NotePassStart() {
    SetLocked(passStart);
}

void NotePassEnd() {
    SetLocked(passEnd);
    WriteStateFile();
}

void NoteServiceCheck(int index, int32_t dependency, int32_t returnValue) {
    if (index < 0 || index >= kSentinelId) {
        return;
    }
    records[index].lastReturn = returnValue;
    records[index].dependency = dependency;
    SetLocked(records[index].lastCheck);
}

void NoteAsleep(const char* reason) {
    sleepReason = reason;
    SetLocked(since);
}

void NoteModeChange(bool waitRestarted) {
    std::lock_guard<std::mutex> lock(timesMutex);
    int64_t now = time(nullptr);
    if (asleepForGood.load() != 0) {
        return;  // a wait that runs out after SIGTERM changes nothing any more
    }
    if (hibernateMode.load() == 0 && waitingRunning.load() == 0) {
        since = 0;
    } else if (since == 0) {
        since = now;
    }
    if (waitingRunning.load() == 0) {
        waitEnd = 0;
    } else if (waitRestarted) {
        waitEnd = now + kWaitSeconds;
    }
}
