// Building blocks of the scenario tests: scripted status and command stand-ins that record
// what ran, a few file texts, and the cutting of the daemon log into check passes.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <string>
#include <vector>

#include "box.h"

namespace e2e {
namespace scenario {

// Long messages are shown cut to 300 characters.
// `expected` stands in Messages() from index `at` on, one message after the other.
inline ::testing::AssertionResult FollowsAt(const Box& box, int at,
                                            const std::vector<std::string>& expected) {
    if (at < 0) {
        return ::testing::AssertionFailure() << "the first message never came: " << expected[0];
    }
    bool complete = WaitUntil(
        [&] { return box.Messages().size() >= static_cast<size_t>(at) + expected.size(); });
    std::vector<std::string> all = box.Messages();
    if (!complete) {
        return ::testing::AssertionFailure() << "the log ends before the sequence does";
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        if (all[at + i] != expected[i]) {
            std::string shown =
                all[at + i].size() > 300 ? all[at + i].substr(0, 300) + "[...]" : all[at + i];
            return ::testing::AssertionFailure()
                   << "message " << at + i << " is '" << shown << "', expected '"
                   << (expected[i].size() > 300 ? expected[i].substr(0, 300) + "[...]"
                                                : expected[i])
                   << "'";
        }
    }
    return ::testing::AssertionSuccess();
}

constexpr const char* kStarted = "Debug: Thread CheckAllStati started";
constexpr const char* kTerminated = "Debug: Thread CheckAllStati terminated";
constexpr const char* kTick = "Debug: got signal: 14";
constexpr const char* kArchiveFirst = "OK, let's try to archive some important logs first...";
constexpr const char* kArchiveDone = "Done.";
// Every stand-in below appends one line per run to this file, so the order of status runs,
// archiving and commands can be read back across processes.
constexpr const char* kActions = "/run/box/actions.log";

// Status script stand-in, placed as /etc/vigilerd/scripts/NAME. Run N follows line N of
// /run/box/NAME.codes, "CODE" or "CODE ACTION": it runs ACTION (a shell text, which may print
// the status output) and exits with CODE. Once the lines have run out it is good and silent.
constexpr const char* kStatusScript = R"sh(#!/bin/sh
name=${0##*/}
n=$(( $(cat /run/box/$name.runs 2>/dev/null || echo 0) + 1 ))
echo $n >/run/box/$name.runs
echo "$name $* $n" >>/run/box/actions.log
line=$(sed -n "${n}p" /run/box/$name.codes 2>/dev/null)
[ -n "$line" ] || exit 0
code=${line%% *}
[ "$code" = "$line" ] || eval "${line#* }"
exit $code
)sh";

// Fail and escalation command stand-in, /etc/vigilerd/scripts/act WHAT CODE [TEXT...]: records
// WHAT and whether the voice lock could be had at that moment, prints TEXT, exits with CODE.
constexpr const char* kActScript = R"sh(#!/bin/sh
what=$1
code=$2
shift 2
if [ "$(voice_lock_holder 0 2>&1)" = locked ]; then lock=free; else lock=held; fi
echo "$what lock=$lock" >>/run/box/actions.log
printf '%s' "$*"
exit $code
)sh";
constexpr const char* kAct = "/etc/vigilerd/scripts/act";

// Archiver stand-in: one line per run, so archives line up with the runs around them.
constexpr const char* kArchiver = "#!/bin/sh\necho archive >>/run/box/actions.log\n";

inline std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// rc.conf that switches on exactly the named services. The other services' keys are absent,
// which switches them off without naming them, so no disabled-services line is logged.
inline std::string RcConf(std::initializer_list<std::string> enabled,
                          const std::string& extra = "") {
    std::string text = "START_VIGILERD=true\n";
    for (const std::string& name : enabled) {
        text += "START_" + Upper(name) + "=true\n";
    }
    return text + extra;
}

inline std::string ScriptPath(const std::string& name) {
    return "/etc/vigilerd/scripts/" + name;
}

// Installs the scripted status stand-in for `name` with its run list, one entry per run.
inline void ScriptStatus(Box& box, const std::string& name, const std::vector<std::string>& runs) {
    std::string codes;
    for (const std::string& run : runs) {
        codes += run + "\n";
    }
    box.Place(ScriptPath(name), kStatusScript, 0755);
    box.Place("/run/box/" + name + ".codes", codes);
}

// The stand-ins every failure scenario needs: the command stand-in with the lock probe, the
// recording archiver.
inline void UseStandIns(Box& box) {
    box.InstallTool("voice_lock_holder");
    box.Place(kAct, kActScript, 0755);
    box.Place("/usr/bin/mainlogszipperforvigiler", kArchiver, 0755);
}

// The lines of /run/box/actions.log; none when nothing ran yet.
inline std::vector<std::string> Actions(const Box& box) {
    std::string text;
    std::vector<std::string> lines;
    if (!box.TryRead(kActions, &text)) {
        return lines;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The first `count` lines of /run/box/actions.log (fewer when fewer are there): passes go on
// while a test looks, so a test compares the runs up to a known point.
inline std::vector<std::string> FirstActions(const Box& box, size_t count) {
    std::vector<std::string> lines = Actions(box);
    if (lines.size() > count) {
        lines.resize(count);
    }
    return lines;
}

// The complete check passes among `messages`, each from its start line to its end line, both
// included; lines between passes (ticks) are left out.
inline std::vector<std::vector<std::string>> Passes(const std::vector<std::string>& messages) {
    std::vector<std::vector<std::string>> passes;
    std::vector<std::string> current;
    bool inside = false;
    for (const std::string& message : messages) {
        if (message == kStarted) {
            current.clear();
            inside = true;
        }
        if (inside) {
            current.push_back(message);
        }
        if (inside && message == kTerminated) {
            passes.push_back(current);
            inside = false;
        }
    }
    return passes;
}

// Waits until `count` passes have ended and returns all complete passes.
inline std::vector<std::vector<std::string>> WaitForPasses(const Box& box, int count,
                                                           milliseconds timeout = kWait) {
    box.WaitForCount(kTerminated, count, timeout);
    return Passes(box.Messages());
}

// Waits for the first pass that starts at or after message `from` to end; returns the index
// of its end line, or -1.
inline int WaitForPassAfter(const Box& box, int from, milliseconds timeout = kWait) {
    int started = box.WaitForMessage(kStarted, timeout, from);
    if (started < 0) {
        return -1;
    }
    return box.WaitForMessage(kTerminated, timeout, started);
}

// The messages from `from` up to and including `to`.
inline std::vector<std::string> Slice(const std::vector<std::string>& messages, int from, int to) {
    if (from < 0 || to < from || static_cast<size_t>(to) >= messages.size()) {
        return {};
    }
    return std::vector<std::string>(messages.begin() + from, messages.begin() + to + 1);
}

inline int MessageCount(const Box& box) {
    return static_cast<int>(box.Messages().size());
}

// The messages of the first whole pass that starts at or after message `from`; none when no
// such pass ended in time.
inline std::vector<std::string> NextPass(const Box& box, int from,
                                         milliseconds timeout = milliseconds(15000)) {
    int end = WaitForPassAfter(box, from, timeout);
    if (end < 0) {
        return {};
    }
    std::vector<std::string> messages = box.Messages();
    int start = end;
    while (start > 0 && messages[start] != kStarted) {
        --start;
    }
    return Slice(messages, start, end);
}

// Hibernates and wakes the daemon again, which makes it read rc.conf and the interface state
// file anew. Returns the index of the first message after "Info: (Re)reading rc.conf.".
inline int Reread(Box& box) {
    int before = MessageCount(box);
    box.Write("/tmp/hibernateMode", "");
    box.Signal(SIGHUP);
    EXPECT_GE(box.WaitForMessage("Info: Hibernate mode has been set", kWait, before), 0);
    box.Remove("/tmp/hibernateMode");
    box.Signal(SIGHUP);
    int reset = box.WaitForMessage("Info: Hibernate mode has been reset", kWait, before);
    EXPECT_GE(reset, 0);
    int read = box.WaitForMessage("Info: (Re)reading rc.conf.", kWait, reset);
    EXPECT_EQ(read, reset + 1);
    return read + 1;
}

}  // namespace scenario
}  // namespace e2e
