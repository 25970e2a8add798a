// vigilerctl status: the daemon's state file shown as a table or as JSON, and the exit
// codes by which an outer watchdog watches the watcher.
#include <pwd.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "config/service_table.h"
#include "core/run_modes.h"
#include "core/state_file.h"
#include "ctl/ctl.h"
#include "monitor/reboot_budget.h"
#include "platform/config_file.h"

namespace {

// A time in seconds since the epoch; the library's numbers are 32-bit and would end in 2038.
long long Seconds(MultiSectionConfigFile& file, const char* key) {
    std::string text = file.GetSectionEntry(key);
    char* end = nullptr;
    long long value = strtoll(text.c_str(), &end, 10);
    return text.empty() || *end != '\0' ? 0 : value;
}

}  // namespace

bool ReadState(State& state) {
    try {
        MultiSectionConfigFile file(kStatePath, false, true, false);
        if (file.GotoSection("vigilerd") == 0) {
            return false;
        }
        state.mode = file.GetSectionEntry("MODE");
        state.pid = file.GetSectionValue("PID");
        state.interval = file.GetSectionValue("INTERVAL");
        state.started = Seconds(file, "STARTED");
        state.passStart = Seconds(file, "PASS_START");
        state.passEnd = Seconds(file, "PASS_END");
        state.written = Seconds(file, "WRITTEN");
        state.reason = file.GetSectionEntry("REASON");
        if (state.reason == ConfigBuffer::ENTRY_NOT_FOUND) {
            state.reason.clear();
        }
        state.since = Seconds(file, "SINCE");
        state.waitEnd = Seconds(file, "WAIT_END");
        state.watchdogDevice = file.GetSectionEntry("WATCHDOG_DEVICE");
        state.watchdogState = file.GetSectionEntry("WATCHDOG_STATE");
        state.watchdogTimeout = file.GetSectionValue("WATCHDOG_TIMEOUT");
        state.lastKeepalive = Seconds(file, "WATCHDOG_LAST_KEEPALIVE");
        state.budget = file.GetSectionValue("REBOOT_BUDGET");
        state.budgetHours = file.GetSectionValue("REBOOT_BUDGET_HOURS");
        if (state.budget == ConfigBuffer::VALUE_NOT_FOUND || state.budget <= 0) {
            state.budget = 0;
        } else {
            // An unreadable record counts as empty, as it does for the daemon.
            std::vector<RebootEntry> entries;
            std::string why;
            ReadRebootRecord(kRebootRecordPath, entries, why);
            state.budgetUsed = CountRebootsInWindow(entries, time(nullptr), state.budgetHours,
                                                    state.budget, state.nextReboot);
        }
        for (int index = 0; index < kSentinelId; ++index) {
            ServiceState& service = state.services[index];
            service = ServiceState{daemonConfigs[index].name, -1, -1, 0, -1, -1, 0, -1};
            if (file.GotoSection(service.name) == 0) {
                continue;  // written before the configuration was read
            }
            service.enabled = file.GetSectionValue("ENABLED");
            service.lastReturn = file.GetSectionValue("LAST_RETURN");
            service.currentFails = file.GetSectionValue("CURRENT_FAILS");
            service.maxFail = file.GetSectionValue("MAX_FAIL");
            service.failsForEscalation = file.GetSectionValue("FAILS_FOR_ESCALATION");
            service.lastCheck = Seconds(file, "LAST_CHECK");
            service.dependency = file.GetSectionValue("DEPENDENCY_HELD");
        }
        return state.mode != ConfigBuffer::ENTRY_NOT_FOUND;
    } catch (const std::exception&) {
        return false;
    }
}

std::string Clock(long long seconds) {
    if (seconds <= 0) {
        return "-";
    }
    time_t at = seconds;
    struct tm local;
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", localtime_r(&at, &local));
    return text;
}

namespace {

// The owner of the hibernation marker, which anyone may create: a name, else the uid; "" when
// there is no marker.
std::string MarkerOwner() {
    struct stat info;
    if (lstat(kHibernateMarker, &info) != 0) {
        return "";
    }
    struct passwd* user = getpwuid(info.st_uid);
    return user != nullptr ? user->pw_name : std::to_string(info.st_uid);
}

const char* Dependency(int32_t held, bool json) {
    if (held == 1) {
        return json ? "true" : "held";
    }
    if (held == 0) {
        return json ? "false" : "not held";
    }
    return json ? "null" : "-";
}

void PrintTable(const State& state, const std::string& owner) {
    printf("vigilerd pid %d: %s, interval %d s\n", state.pid, state.mode.c_str(), state.interval);
    if (state.mode == "asleep") {
        printf("asleep for good since %s (%s)\n", Clock(state.since).c_str(), state.reason.c_str());
    } else if (state.since > 0) {
        printf("paused since %s\n", Clock(state.since).c_str());
    }
    if (state.waitEnd > 0) {
        printf("waiting until about %s\n", Clock(state.waitEnd).c_str());
    }
    if (!owner.empty()) {
        printf("%s exists, owner %s\n", kHibernateMarker, owner.c_str());
    }
    printf("last pass: %s to %s\n", Clock(state.passStart).c_str(), Clock(state.passEnd).c_str());
    if (state.watchdogDevice != ConfigBuffer::ENTRY_NOT_FOUND) {
        printf("hardware watchdog %s: %s, timeout %d s, last keepalive %s\n",
               state.watchdogDevice.c_str(), state.watchdogState.c_str(), state.watchdogTimeout,
               Clock(state.lastKeepalive).c_str());
    }
    if (state.budget > 0) {
        bool spent = state.budgetUsed >= state.budget;
        printf("reboot budget: %d of %d used in %d hours, next reboot allowed %s\n",
               state.budgetUsed, state.budget, state.budgetHours,
               spent ? Clock(state.nextReboot).c_str() : "now");
    }
    printf("\n");
    printf("%-10s %-7s %11s %5s %8s %10s  %-19s  %s\n", "SERVICE", "ENABLED", "LAST_RETURN",
           "FAILS", "MAX_FAIL", "ESCALATION", "LAST_CHECK", "DEPENDENCY");
    for (const ServiceState& service : state.services) {
        printf("%-10s %-7s %11d %5d %8d %10d  %-19s  %s\n", service.name,
               service.enabled == 1 ? "yes" : "no", service.lastReturn, service.currentFails,
               service.maxFail, service.failsForEscalation, Clock(service.lastCheck).c_str(),
               Dependency(service.dependency, false));
    }
}

// A JSON string of `text`; the mode comes from a file, so it is escaped rather than trusted.
std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

void PrintJson(const State& state, const std::string& owner) {
    // The service names are the daemon's own fixed names and need no escaping.
    printf(
        "{\"pid\":%d,\"mode\":%s,\"interval\":%d,\"started\":%lld,"
        "\"passStart\":%lld,\"passEnd\":%lld,\"written\":%lld,\"reason\":%s,\"since\":%lld,"
        "\"waitEnd\":%lld,\"markerOwner\":%s,",
        state.pid, JsonString(state.mode).c_str(), state.interval, state.started, state.passStart,
        state.passEnd, state.written,
        state.reason.empty() ? "null" : JsonString(state.reason).c_str(), state.since,
        state.waitEnd, owner.empty() ? "null" : JsonString(owner).c_str());
    if (state.watchdogDevice != ConfigBuffer::ENTRY_NOT_FOUND) {
        printf("\"watchdog\":{\"device\":%s,\"timeout\":%d,\"lastKeepalive\":%lld,\"state\":%s},",
               JsonString(state.watchdogDevice).c_str(), state.watchdogTimeout, state.lastKeepalive,
               JsonString(state.watchdogState).c_str());
    }
    printf("\"services\":[");
    const char* separator = "";
    for (const ServiceState& service : state.services) {
        printf(
            "%s{\"name\":\"%s\",\"enabled\":%s,\"lastReturn\":%d,\"currentFails\":%d,"
            "\"maxFail\":%d,\"failsForEscalation\":%d,\"lastCheck\":%lld,"
            "\"dependencyHeld\":%s}",
            separator, service.name, service.enabled == 1 ? "true" : "false", service.lastReturn,
            service.currentFails, service.maxFail, service.failsForEscalation, service.lastCheck,
            Dependency(service.dependency, true));
        separator = ",";
    }
    printf("]");
    if (state.budget > 0) {
        printf(",\"rebootBudget\":{\"used\":%d,\"allowed\":%d,\"hours\":%d,\"nextReboot\":%lld}",
               state.budgetUsed, state.budget, state.budgetHours,
               static_cast<long long>(state.nextReboot));
    }
    printf("}\n");
}

}  // namespace

int RunStatus(const Arguments& args) {
    bool json = false;
    int32_t maxAge = -1;
    int32_t maxPause = -1;
    for (size_t at = 0; at < args.size(); ++at) {
        if (args[at] == "--json") {
            json = true;
        } else if (args[at] == "--max-age" || args[at] == "--max-pause") {
            if (at + 1 == args.size()) {
                fprintf(stderr, "vigilerctl: status: %s needs a value\n", args[at].c_str());
                return kExitUsage;
            }
            int32_t& limit = args[at] == "--max-age" ? maxAge : maxPause;
            limit = ConfigBuffer::ParseNumber(args[++at]);
            if (limit == ConfigBuffer::VALUE_NOT_FOUND || limit < 0) {
                fprintf(stderr, "vigilerctl: %s needs a number of seconds\n", args[at - 1].c_str());
                return kExitUsage;
            }
        } else {
            fprintf(stderr, "vigilerctl: status: unknown argument '%s'\n", args[at].c_str());
            return kExitUsage;
        }
    }

    pid_t pid = LiveDaemonPidOrSay();
    if (pid < 0) {
        return kExitNotRunning;
    }
    State state;
    // A state file left by an earlier process describes that one, not the daemon now running.
    if (!ReadState(state) || state.pid != pid) {
        fprintf(stderr, "vigilerctl: no state of pid %d in %s\n", pid, kStatePath);
        return kExitFailure;
    }
    std::string owner = MarkerOwner();
    json ? PrintJson(state, owner) : PrintTable(state, owner);
    if (state.mode == "asleep") {
        fprintf(stderr,
                "vigilerctl: vigilerd (pid %d) sleeps for good (%s); it checks nothing until "
                "it is killed and started again\n",
                pid, state.reason.c_str());
        return kExitAsleep;
    }
    // Hibernation and the wait are chosen pauses, which only --max-pause limits; a running
    // daemon must pass.
    long long now = time(nullptr);
    bool pausing = state.mode == "hibernating" || state.mode == "waiting";
    if (maxAge >= 0 && !pausing) {
        long long since = state.passEnd > 0 ? state.passEnd : state.started;
        if (now - since > maxAge) {
            fprintf(stderr, "vigilerctl: the last pass of vigilerd ended %lld s ago (limit %d s)\n",
                    now - since, maxAge);
            return kExitStale;
        }
    }
    if (maxPause >= 0 && pausing && now - state.since > maxPause) {
        fprintf(stderr, "vigilerctl: vigilerd has been %s for %lld s (limit %d s)\n",
                state.mode.c_str(), now - state.since, maxPause);
        return kExitStale;
    }
    return 0;
}
