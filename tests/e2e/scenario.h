// Building blocks of the scenario tests: scripted stand-ins for status scripts, commands and
// the archiver that record what ran, service file texts, and the log cut into check passes.
#pragma once

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "box.h"

namespace e2e {
namespace scenario {

using Lines = std::vector<std::string>;
constexpr const char* kStarted = "Debug: Thread CheckAllStati started";
constexpr const char* kTerminated = "Debug: Thread CheckAllStati terminated";
constexpr const char* kTick = "Debug: got signal: 14";
constexpr const char* kRcPass = "Info: (Re)reading rc.conf.";
constexpr const char* kArchiveFirst = "OK, let's try to archive some important logs first...";
constexpr const char* kArchiveDone = "Done.";
constexpr const char* kMarker = "/tmp/hibernateMode";
constexpr const char* kAct = "/etc/vigilerd/scripts/act";
// Another process takes the voice lock and holds it until it is killed.
constexpr const char* kTakeLock =
    "voice_lock_holder >/run/box/holder.out 2>&1 & echo $! >/run/box/holder.pid; "
    "until grep -qs locked /run/box/holder.out; do sleep 0.05; done";
constexpr const char* kOthersOff = "ppp, dhclient, ipsec, dhcpd_lan, named, ntpd, voice, vpnd, "
                                   "ipsecd, stats, tftpd not monitored. Disabled by rc.conf.";
const std::string kExec = "Error: Executing the fail command ";
constexpr const char* kWorked = "Info: Fail Command successfully executed";

// Start-up has read the whole configuration (it then writes the state file first): from now
// on a tick starts a pass.
inline bool WaitForStartUp(const Box& box) {
    return WaitUntil([&] { return box.Exists("/var/run/vigilerd.state"); });
}

// rc.conf that switches on exactly the named services ("a|b"); the others' keys are absent,
// which switches them off without naming them.
inline std::string RcConf(const std::string& enabled, const std::string& extra = "") {
    std::string text = "START_VIGILERD=true\n";
    for (std::string name : Split(enabled)) {
        std::transform(name.begin(), name.end(), name.begin(), ::toupper);
        text += "START_" + name + "=true\n";
    }
    return text + extra;
}

// A service file: [basic] with the scripted stand-in, GOOD_RET=0, and `rest`.
inline std::string Service(const std::string& name, const std::string& rest) {
    return "[basic]\nSCRIPT=/etc/vigilerd/scripts/" + name + "\nGOOD_RET=0,\n" + rest;
}

// The results of the status stand-in of `name` (conf/minimal), one per run: "1|2|0 sleep 1".
inline void ScriptStatus(Box& box, const std::string& name, const std::string& runs) {
    std::string codes = runs + "\n";
    std::replace(codes.begin(), codes.end(), '|', '\n');
    box.Place("/run/box/" + name + ".codes", codes);
}

// What the stand-ins recorded (conf/minimal), in the order they ran: the first `most` lines.
inline Lines Actions(const Box& box, size_t most) {
    Lines lines = Split(box.Read("/run/box/actions.log"), '\n');
    lines.resize(std::min(lines.size(), most));
    return lines;
}

// The first `count` complete passes, each from its start line to its end line, once they
// are logged.
inline std::vector<Lines> WaitForPasses(const Box& box, size_t count,
                                        milliseconds timeout = kWait) {
    box.WaitForCount(kTerminated, static_cast<int>(count), timeout);
    std::vector<Lines> passes;
    Lines log = box.Messages();
    for (auto start = log.begin(), end = start; passes.size() < count; start = end) {
        start = std::find(start, log.end(), kStarted);
        if ((end = std::find(start, log.end(), kTerminated)) == log.end())
            break;
        passes.emplace_back(start, ++end);
    }
    passes.resize(count);  // a pass that never came is empty
    return passes;
}

// The lines of one status run: the call and its value; when `then` (what the bad value led
// to) is given, the warning with the command's output, then `then`.
inline Lines Call(const std::string& name, int code, const Lines& then = {},
                  const std::string& output = "") {
    std::string cmd = "/etc/vigilerd/scripts/" + name + " status", value = std::to_string(code);
    Lines lines = {"Debug: Calling " + cmd, "Debug: Return value: " + value};
    if (!then.empty())
        lines.push_back("Warning: returnValue " + value + " (BAD RETURN) from cmd = " + cmd + " (" +
                        output + ")");
    lines.insert(lines.end(), then.begin(), then.end());
    return lines;
}

// The lines of a counted failure: count, archive, then what the count calls for.
inline Lines Counted(const std::string& name, int count, int max, const Lines& then = {}) {
    Lines lines = {"Warning: current fails for " + name + " is " + std::to_string(count) +
                       " of max " + std::to_string(max),
                   kArchiveFirst, kArchiveDone};
    lines.insert(lines.end(), then.begin(), then.end());
    return lines;
}

inline Lines Pass(const std::vector<Lines>& rows) {
    Lines lines = {kStarted};
    for (const Lines& row : rows)
        lines.insert(lines.end(), row.begin(), row.end());
    lines.push_back(kTerminated);
    return lines;
}

}  // namespace scenario
}  // namespace e2e
