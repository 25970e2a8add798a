// The reboot budget: at most REBOOT_BUDGET reboots started by the daemon within the last
// REBOOT_BUDGET_HOURS hours, counted in a record on the configuration flash across boots.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* kRebootRecordPath = "/mnt/flashfs/vigilerd.reboots";
constexpr const char* kRebootRecordTemp = "/mnt/flashfs/vigilerd.reboots.tmp";

// One line of the record: "<epoch seconds> <cause> <service>".
struct RebootEntry {
    int64_t at;
    std::string cause;    // escalation, stall or hardware
    std::string service;  // a service name, or "-"
};

// Reads a record: true with its entries, a missing file being empty; false with the reason.
// Any line that is not exactly an entry, a last line without its newline included, spoils it.
bool ReadRebootRecord(const char* path, std::vector<RebootEntry>& entries, std::string& why);

// How many entries count at `now` against a window of `hours` (those of the window and those
// dated later than now), and when the budget of `allowed` lets a reboot happen again: `now`
// itself when it is not spent.
int CountRebootsInWindow(const std::vector<RebootEntry>& entries, int64_t now, int32_t hours,
                         int32_t allowed, int64_t& nextAllowed);

// Start-up, once the settings are read: a temporary file left by a write that was cut short
// is removed, and the record is read so that a broken one is reported at once.
void StartRebootBudget();

// A "reboot" escalation of `service` has the voice lock. True when the reboot may go ahead;
// it is then in the record. False when the budget is spent: logged, alerted once each time
// the budget becomes spent, and nothing recorded. Always true without a budget.
bool RebootBudgetAllowsEscalation(const char* service);

// The checks have stalled since `stallSince` and the hardware watchdog is about to reset the
// box (the voice lock is held). True when it may: the reset is then in the record with cause
// "stall". False when the budget is spent: logged once per stall, and the watchdog is to be
// fed on. Always true without a budget.
bool RebootBudgetAllowsStall(int64_t stallSince);

// Start-up: the hardware watchdog reports that it reset the box; recorded with cause
// "hardware" whether or not the budget is spent. Nothing without a budget.
void RecordHardwareReset();
