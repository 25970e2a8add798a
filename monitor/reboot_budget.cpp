// The reboot budget: at most REBOOT_BUDGET reboots started by the daemon within the last
// REBOOT_BUDGET_HOURS hours, counted in a record on the configuration flash across boots.
#include "monitor/reboot_budget.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "config/settings_reader.h"
#include "core/daemon.h"
#include "core/log.h"
#include "platform/config_file.h"
#include "platform/replace_file.h"

namespace {

// The check thread escalates, the signal thread handles a stall, start-up records a hardware
// reset: one at a time reads, changes and writes the record. Never held across a command.
std::mutex recordMutex;
bool readFailureLogged = false;  // these three under recordMutex
bool spentAlerted = false;
int64_t stallLogged = -1;

bool On() {
    return rebootBudget > 0 && rebootBudgetHours > 0;
}

// The record, read with the failure logged once in the daemon's life: it counts as empty.
std::vector<RebootEntry> Load() {
    std::vector<RebootEntry> entries;
    std::string why;
    if (!ReadRebootRecord(kRebootRecordPath, entries, why) && !readFailureLogged) {
        readFailureLogged = true;
        Report("Warning: Could not read the reboot record %s (%s)\n", kRebootRecordPath,
               why.c_str());
    }
    return entries;
}

// Adds an entry dated now, drops those that have left the window, writes the record. A
// record that cannot be written must not stop the reboot: the failure is only logged.
void Append(std::vector<RebootEntry>& entries, const char* cause, const char* service,
            int64_t now) {
    std::string text;
    for (const RebootEntry& entry : entries) {
        if (entry.at > now - int64_t{rebootBudgetHours} * 3600) {
            text += std::to_string(entry.at) + " " + entry.cause + " " + entry.service + "\n";
        }
    }
    text += std::to_string(now) + " " + cause + " " + service + "\n";
    int error = ReplaceFile(kRebootRecordPath, kRebootRecordTemp, text, true);
    if (error != 0) {
        Report("Error: Could not write the reboot record %s (%d = %s)\n", kRebootRecordPath, error,
               strerror(error));
    }
}

// True and recorded when the budget allows one more reboot; else false with the count.
bool Take(const char* cause, const char* service, int& used) {
    std::vector<RebootEntry> entries = Load();
    int64_t now = time(nullptr), next;
    used = CountRebootsInWindow(entries, now, rebootBudgetHours, rebootBudget, next);
    if (next > now) {
        return false;
    }
    spentAlerted = false;
    Append(entries, cause, service, now);
    return true;
}

bool ParseLine(const std::string& line, RebootEntry& entry) {
    size_t space = line.find(' ');
    size_t second = line.find(' ', space + 1);
    if (space == 0 || space > 18 || second == std::string::npos || second + 1 >= line.size() ||
        line.find(' ', second + 1) != std::string::npos ||
        line.find_first_not_of("0123456789") != space) {
        return false;
    }
    entry.at = std::stoll(line.substr(0, space));
    entry.cause = line.substr(space + 1, second - space - 1);
    entry.service = line.substr(second + 1);
    return entry.cause == "escalation" || entry.cause == "stall" || entry.cause == "hardware";
}

}  // namespace

bool ReadRebootRecord(const char* path, std::vector<RebootEntry>& entries, std::string& why) {
    entries.clear();
    // A FIFO in its place would hold the open until a writer came, and the reboot with it.
    int fd = OpenRegularFile(path);
    if (fd < 0) {
        int error = errno;
        why = error != 0 ? strerror(error) : "not a regular file";
        return error == ENOENT;
    }
    std::string text;
    char buffer[512];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        text.append(buffer, got > 0 ? static_cast<size_t>(got) : 0);
    }
    int error = errno;
    close(fd);
    if (got < 0) {
        why = strerror(error);
        return false;
    }
    size_t start = 0;
    for (size_t end; start < text.size(); start = end + 1) {
        RebootEntry entry;
        end = text.find('\n', start);
        if (end == std::string::npos || !ParseLine(text.substr(start, end - start), entry)) {
            why = "malformed line " + std::to_string(entries.size() + 1);
            entries.clear();
            return false;
        }
        entries.push_back(entry);
    }
    return true;
}

int CountRebootsInWindow(const std::vector<RebootEntry>& entries, int64_t now, int32_t hours,
                         int32_t allowed, int64_t& nextAllowed) {
    // An entry dated later than now counts: a clock set back must not refill the budget.
    int64_t window = int64_t{hours} * 3600;
    std::vector<int64_t> times;
    for (const RebootEntry& entry : entries) {
        if (entry.at > now - window) {
            times.push_back(entry.at);
        }
    }
    int used = static_cast<int>(times.size());
    nextAllowed = now;
    if (allowed > 0 && used >= allowed) {
        // Once the oldest used - allowed + 1 of them have left the window.
        std::sort(times.begin(), times.end());
        nextAllowed = times[used - allowed] + window;
    }
    return used;
}

void StartRebootBudget() {
    if (!On()) {
        return;
    }
    std::lock_guard<std::mutex> lock(recordMutex);
    unlink(kRebootRecordTemp);
    Load();
}

bool RebootBudgetAllowsEscalation(const char* service) {
    if (!On()) {
        return true;
    }
    std::lock_guard<std::mutex> lock(recordMutex);
    int used;
    if (Take("escalation", service, used)) {
        return true;
    }
    Report(
        "Error: Reboot budget spent (%d reboots in %d hours). Could not execute the escalation "
        "command\n",
        used, rebootBudgetHours);
    if (!spentAlerted && event != nullptr) {
        char text[200];
        snprintf(text, sizeof text,
                 "Reboot budget spent: %s keeps failing and the box is not rebooted.", service);
        event->Raise(text, "", "");
    }
    spentAlerted = true;
    return false;
}

bool RebootBudgetAllowsStall(int64_t stallSince) {
    if (!On()) {
        return true;
    }
    std::lock_guard<std::mutex> lock(recordMutex);
    int used;
    if (Take("stall", "-", used)) {
        return true;
    }
    if (stallLogged != stallSince) {
        stallLogged = stallSince;
        Report(
            "Error: Reboot budget spent (%d reboots in %d hours). Hardware watchdog keeps being "
            "fed\n",
            used, rebootBudgetHours);
    }
    return false;
}

void RecordHardwareReset() {
    if (!On()) {
        return;
    }
    std::lock_guard<std::mutex> lock(recordMutex);
    std::vector<RebootEntry> entries = Load();
    Append(entries, "hardware", "-", time(nullptr));
}
