// End-to-end failure reaction of the real daemon: the count that leads from warnings to the
// fail command and to the escalation, unknown return values, the voice lock around reboots
// and voice repairs, command output in the log, and a pause request in the middle of a row.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>
#include <vector>

#include "box.h"
#include "scenario.h"

namespace e2e {
namespace {

using namespace scenario;
using std::chrono::seconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// What one counted failure sets off beyond its warning and its archive.
enum class Then { kNothing, kRepairFails, kRepairWorks, kEscalation };

struct Failure {
    int code;   // the status script's exit status: 1 has a failing repair, 2 a working one
    int count;  // the count the warning shows
    Then then;
};

struct CountCase {
    const char* name;
    int maxFail;
    const char* failsForEscalation;  // the key's text; nullptr leaves the key out
    bool escalationCmd;              // whether ESCALATION_CMD is given
    std::vector<Failure> failures;   // one per pass; the pass after the last is good
};

void PrintTo(const CountCase& param, std::ostream* out) {
    *out << param.name;
}

constexpr const char* kRepairFails = "/etc/vigilerd/scripts/act repair-fails 1";
constexpr const char* kRepairWorks = "/etc/vigilerd/scripts/act repair-works 0";
constexpr const char* kEscalate = "/etc/vigilerd/scripts/act escalate 0";

std::string HttpdFile(const CountCase& c) {
    std::string text = "[basic]\nSCRIPT=/etc/vigilerd/scripts/httpd\nGOOD_RET=0,\n";
    if (c.failsForEscalation != nullptr) {
        text += std::string("FAILS_FOR_ESCALATION=") + c.failsForEscalation + "\n";
    }
    text += "BAD_RET=1,2,\nMAX_FAIL=" + std::to_string(c.maxFail) + "\n";
    if (c.escalationCmd) {
        text += std::string("ESCALATION_CMD=") + kEscalate + "\n";
    }
    text += std::string("[failcmd1]\nFAIL_CMD=") + kRepairFails + "\nFAIL_CMD_GOOD_RETURN=0\n";
    text += std::string("[failcmd2]\nFAIL_CMD=") + kRepairWorks + "\nFAIL_CMD_GOOD_RETURN=0\n";
    return text;
}

class CountTableInBox : public BoxTest, public ::testing::WithParamInterface<CountCase> {};

// The whole log, line by line, of a service that fails a given number of times and is then
// good again; and the order in which status runs, archives and commands really happened.
TEST_P(CountTableInBox, EachCountedFailureArchivesThenRunsWhatTheCountCallsFor) {
    const CountCase& c = GetParam();
    UseStandIns(box);
    box.Place("/etc/sysconfig/rc.conf", RcConf({"httpd"}));
    box.Place("/etc/vigilerd/httpd", HttpdFile(c));
    std::vector<std::string> runs;
    for (const Failure& f : c.failures) {
        runs.push_back(std::to_string(f.code));
    }
    ScriptStatus(box, "httpd", runs);

    std::vector<std::string> log = {"Info: started", "Info: (Re)reading rc.conf."};
    if (c.failsForEscalation != nullptr && !c.escalationCmd) {
        log.push_back(
            "Warning: Config file error (/etc/vigilerd/httpd): FAILS_FOR_ESCALATION without "
            "ESCALATION_CMD, never escalating");
    }
    std::vector<std::string> actions;
    const std::string calling = "Debug: Calling /etc/vigilerd/scripts/httpd status";
    int run = 0;
    for (const Failure& f : c.failures) {
        std::string code = std::to_string(f.code);
        ++run;
        log.insert(log.end(), {kTick, kStarted, calling, "Debug: Return value: " + code,
                               "Warning: returnValue " + code +
                                   " (BAD RETURN) from cmd = /etc/vigilerd/scripts/httpd status ()",
                               "Warning: current fails for httpd is " + std::to_string(f.count) +
                                   " of max " + std::to_string(c.maxFail),
                               kArchiveFirst, kArchiveDone});
        actions.insert(actions.end(), {"httpd status " + std::to_string(run), "archive"});
        switch (f.then) {
            case Then::kNothing:
                break;
            case Then::kRepairFails:
                log.push_back(std::string("Error: Executing the fail command ") + kRepairFails);
                log.push_back(
                    "Error: Fail Command not successfully executed, got Errorcode = 1 ()");
                actions.push_back("repair-fails lock=free");
                break;
            case Then::kRepairWorks:
                log.push_back(std::string("Error: Executing the fail command ") + kRepairWorks);
                log.push_back("Info: Fail Command successfully executed");
                actions.push_back("repair-works lock=free");
                break;
            case Then::kEscalation:
                actions.push_back("escalate lock=free");  // no log line tells of it
                break;
        }
        log.push_back(kTerminated);
    }
    log.insert(log.end(), {kTick, kStarted, calling, "Debug: Return value: 0", kTerminated});
    actions.push_back("httpd status " + std::to_string(run + 1));

    box.Start();
    const int passes = static_cast<int>(c.failures.size()) + 1;
    ASSERT_TRUE(box.WaitForCount(kTerminated, passes, seconds(5 + 3 * passes))) << box.Dump();
    std::vector<std::string> messages = box.Messages();
    messages.resize(log.size());
    EXPECT_THAT(messages, ElementsAreArray(log));
    EXPECT_THAT(FirstActions(box, actions.size()), ElementsAreArray(actions));
    EXPECT_TRUE(box.LogLinesWhole());
}

constexpr Then N = Then::kNothing;
constexpr Then F = Then::kRepairFails;
constexpr Then W = Then::kRepairWorks;
constexpr Then E = Then::kEscalation;

INSTANTIATE_TEST_SUITE_P(
    FailureReaction, CountTableInBox,
    ::testing::Values(
        // The table: archive only, then the fail command, then the escalation for good.
        CountCase{"MaxFail3Escalation5",
                  3,
                  "5",
                  true,
                  {{1, 1, N}, {1, 2, N}, {1, 3, F}, {1, 4, F}, {1, 5, E}, {1, 6, E}, {1, 7, E}}},
        // A working fail command starts the count afresh; the next warning shows 1.
        CountCase{"WorkingRepairResetsTheCount",
                  3,
                  "5",
                  true,
                  {{1, 1, N}, {1, 2, N}, {2, 3, W}, {1, 1, N}, {1, 2, N}, {1, 3, F}}},
        // -1 and an absent key never escalate, whatever ESCALATION_CMD says.
        CountCase{"NoEscalationCount",
                  3,
                  nullptr,
                  true,
                  {{1, 1, N}, {1, 2, N}, {1, 3, F}, {1, 4, F}, {1, 5, F}, {1, 6, F}}},
        CountCase{"EscalationCountMinusOne", 2, "-1", true, {{1, 1, N}, {1, 2, F}, {1, 3, F}}},
        CountCase{"MaxFail0", 0, nullptr, true, {{1, 1, F}, {2, 2, W}, {1, 1, F}}},
        CountCase{"MaxFail1", 1, "3", true, {{1, 1, F}, {1, 2, F}, {1, 3, E}, {1, 4, E}}},
        CountCase{"Escalation0", 3, "0", true, {{1, 1, E}, {1, 2, E}}},
        // The escalation takes precedence over the fail command.
        CountCase{"Escalation1WithMaxFail0", 0, "1", true, {{2, 1, E}, {1, 2, E}}},
        CountCase{"EscalationAtMaxFail", 3, "3", true, {{1, 1, N}, {1, 2, N}, {1, 3, E}}},
        // Counts are compared as signed numbers: below -1 means escalating at once.
        CountCase{"NegativeEscalationCount", 3, "-2", true, {{1, 1, E}, {1, 2, E}}},
        // A count to escalate at without a command to escalate with: the repairs go on.
        CountCase{
            "EscalationCountWithoutCommand", 1, "2", false, {{1, 1, F}, {1, 2, F}, {1, 3, F}}}),
    [](const ::testing::TestParamInfo<CountCase>& info) { return info.param.name; });

class FailureReactionInBox : public BoxTest {};

// A value without a fail-command record: one error line naming the row, nothing counted,
// archived or run, also long after the count has passed the escalation point.
TEST_F(FailureReactionInBox, UnknownReturnValueIsOneErrorLineWhateverTheCount) {
    UseStandIns(box);
    box.Place("/etc/sysconfig/rc.conf", RcConf({"ipsec"}));
    box.Place("/etc/vigilerd/ipsec", std::string("[basic]\nSCRIPT=/etc/vigilerd/scripts/ipsec\n"
                                                 "GOOD_RET=0,\nFAILS_FOR_ESCALATION=2\n"
                                                 "BAD_RET=1,\nMAX_FAIL=1\nESCALATION_CMD=") +
                                         kEscalate + "\n[failcmd1]\nFAIL_CMD=" + kRepairFails +
                                         "\n");
    ScriptStatus(box, "ipsec", {"7", "1", "1", "1", "42", "7", "1"});
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 8, seconds(25))) << box.Dump();

    const std::string cmd = "/etc/vigilerd/scripts/ipsec status";
    auto unknown = [&](const std::string& value) {
        return std::vector<std::string>{
            kStarted,
            "Debug: Calling " + cmd,
            "Debug: Return value: " + value,
            "Warning: returnValue " + value + " (BAD RETURN) from cmd = " + cmd + " ()",
            "Error: ***WARNING*** unknown returnvalue " + value + " for ConfigConfiguration[2]",
            kTerminated};
    };
    auto counted = [&](int count, const std::vector<std::string>& then) {
        std::vector<std::string> pass = {
            kStarted,
            "Debug: Calling " + cmd,
            "Debug: Return value: 1",
            "Warning: returnValue 1 (BAD RETURN) from cmd = " + cmd + " ()",
            "Warning: current fails for ipsec is " + std::to_string(count) + " of max 1",
            kArchiveFirst,
            kArchiveDone};
        pass.insert(pass.end(), then.begin(), then.end());
        pass.push_back(kTerminated);
        return pass;
    };
    const std::vector<std::string> repair = {
        std::string("Error: Executing the fail command ") + kRepairFails,
        "Error: Fail Command not successfully executed, got Errorcode = 1 ()"};
    // Runs 2 to 4 and 7 are counted (the escalation, from the second on, logs nothing);
    // the unknown values in between leave the count where it was.
    std::vector<std::vector<std::string>> passes = Passes(box.Messages());
    ASSERT_GE(passes.size(), 8u);
    passes.resize(8);
    EXPECT_THAT(passes, ElementsAre(unknown("7"), counted(1, repair), counted(2, {}),
                                    counted(3, {}), unknown("42"), unknown("7"), counted(4, {}),
                                    ElementsAre(kStarted, "Debug: Calling " + cmd,
                                                "Debug: Return value: 0", kTerminated)));
    EXPECT_THAT(FirstActions(box, 16),
                ElementsAre("ipsec status 1", "ipsec status 2", "archive", "repair-fails lock=free",
                            "ipsec status 3", "archive", "escalate lock=free", "ipsec status 4",
                            "archive", "escalate lock=free", "ipsec status 5", "ipsec status 6",
                            "ipsec status 7", "archive", "escalate lock=free", "ipsec status 8"));
}

// The voice lock state as another process of the box sees it. The daemon's own commands may
// probe the lock for a moment, so "free" needs one successful take within half a second.
std::string LockState(const Box& box) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        ExecResult probe = box.Exec("voice_lock_holder 0");
        if (probe.code == 0 && probe.output == "locked\n") {
            return "free";
        }
        if (probe.code != 1 || probe.output != "busy\n") {
            return "probe failed: " + probe.output;
        }
        std::this_thread::sleep_for(milliseconds(50));
    }
    return "held";
}

// Starts a stand-in voice subsystem that holds the lock until it is killed.
void HoldTheLock(const Box& box) {
    ExecResult held =
        box.Exec("voice_lock_holder >/run/box/holder.out 2>&1 & echo $! >/run/box/holder.pid");
    ASSERT_EQ(held.code, 0) << held.output;
    ASSERT_TRUE(WaitUntil([&] {
        std::string out;
        return box.TryRead("/run/box/holder.out", &out) && out == "locked\n";
    })) << "the stand-in voice subsystem did not get the lock";
}

// Status-run actions that make the stand-in voice subsystem take the lock, or let it go; each
// returns only once the lock has changed hands.
constexpr const char* kVoiceTakesTheLock =
    "voice_lock_holder >/run/box/holder.out 2>&1 & echo $! >/run/box/holder.pid; "
    "until grep -q locked /run/box/holder.out 2>/dev/null; do sleep 0.05; done";
constexpr const char* kVoiceLetsGo =
    "kill $(cat /run/box/holder.pid); "
    "until voice_lock_holder 0 >/dev/null 2>&1; do sleep 0.05; done";

// Reboot stand-in: records its arguments and, when it runs, whether the voice lock was held
// and how many reboot alerts had been raised. When the lock is held (the daemon took it for a
// reboot) it waits a little for this run's alert record, which travels through the box's log
// listener; a daemon that raised only after the command would leave it waiting in vain.
constexpr const char* kRebootStandIn = R"sh(#!/bin/sh
if [ "$(voice_lock_holder 0 2>&1)" = locked ]; then lock=free; else lock=held; fi
want=$(( $(grep -c '^reboot' /run/box/actions.log 2>/dev/null) + 1 ))
i=0
while [ $lock = held ] && [ $i -lt 40 ] &&
    [ "$(grep -c 'reported too many errors' /run/box/syslog.log 2>/dev/null)" -lt $want ]; do
    sleep 0.05
    i=$((i + 1))
done
alerts=$(grep -c 'reported too many errors' /run/box/syslog.log 2>/dev/null)
echo "reboot $* alerts=${alerts:-0} lock=$lock" >>/run/box/actions.log
)sh";

std::string RebootingService(const std::string& name, const std::string& escalation) {
    return "[basic]\nSCRIPT=/etc/vigilerd/scripts/" + name +
           "\nGOOD_RET=0,\nFAILS_FOR_ESCALATION=1\nBAD_RET=1,\nMAX_FAIL=1\nESCALATION_CMD=" +
           escalation + "\n[failcmd1]\nFAIL_CMD=" + kRepairFails + "\n";
}

const std::string kRebootAlert =
    "Software Watchdog: httpd reported too many errors. Executing Escalation Command.";

// "reboot" is announced, then run, under the voice lock that the daemon then keeps. A reboot
// that did not take the box down leaves the daemon holding its own lock: the next escalation
// must be announced and run again, and voice repairs must still run, not be refused for good.
TEST_F(FailureReactionInBox, RebootKeepsTheLockYetARebootThatFailedCanRepeat) {
    UseStandIns(box);
    box.Place("/usr/sbin/reboot", kRebootStandIn, 0755);
    box.Place("/etc/sysconfig/rc.conf", RcConf({"httpd", "voice"}));
    box.Place("/etc/vigilerd/httpd", RebootingService("httpd", "reboot"));
    box.Place("/etc/vigilerd/voice",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/voice\nGOOD_RET=0,\nBAD_RET=1,\n"
              "MAX_FAIL=1\n[failcmd1]\nFAIL_CMD=" + std::string(kRepairFails) + "\n");
    ScriptStatus(box, "httpd", {"1", "1"});
    ScriptStatus(box, "voice", {"0", "1"});
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 3, seconds(15))) << box.Dump();

    std::vector<std::vector<std::string>> passes = Passes(box.Messages());
    const std::string cmd = "/etc/vigilerd/scripts/httpd status";
    auto failed = [&](int count) {
        return std::vector<std::string>{
            kStarted,
            "Debug: Calling " + cmd,
            "Debug: Return value: 1",
            "Warning: returnValue 1 (BAD RETURN) from cmd = " + cmd + " ()",
            "Warning: current fails for httpd is " + std::to_string(count) + " of max 1",
            kArchiveFirst,
            kArchiveDone};
    };
    ASSERT_GE(passes.size(), 3u);
    auto first = failed(1);
    EXPECT_THAT(std::vector<std::string>(passes[0].begin(), passes[0].begin() + first.size()),
                ElementsAreArray(first));
    auto second = failed(2);
    EXPECT_THAT(std::vector<std::string>(passes[1].begin(), passes[1].begin() + second.size()),
                ElementsAreArray(second));
    EXPECT_THAT(passes[1], ::testing::Contains(std::string("Error: Executing the fail command ") +
                                               kRepairFails));
    EXPECT_EQ(box.Count("Error: Voice subsystem is in use. Could not execute the escalation "
                        "command"), 0);
    EXPECT_EQ(box.Count("Error: Voice subsystem is in use. Could not execute the fail command"), 0);
    EXPECT_THAT(FirstActions(box, 9),
                ElementsAre("httpd status 1", "archive", "reboot  alerts=1 lock=held",
                            "voice status 1", "httpd status 2", "archive",
                            "reboot  alerts=2 lock=held", "voice status 2", "archive"));
    EXPECT_EQ(FirstActions(box, 10).back(), "repair-fails lock=held");
    std::vector<std::string> records = box.AlertRecords();
    ASSERT_EQ(records.size(), 2u) << box.Dump();
    EXPECT_EQ(records[1].substr(0, 4), "<25>");
    EXPECT_EQ(records[1].substr(records[1].size() - kRebootAlert.size()), kRebootAlert);
    EXPECT_EQ(LockState(box), "held");
}

// While the voice subsystem holds the lock, "reboot" raises nothing and runs nothing, and the
// count stays; once the lock is free, the next counted failure reboots.
TEST_F(FailureReactionInBox, RebootWithTheLockBusyWaitsForTheNextFailure) {
    UseStandIns(box);
    box.Place("/usr/sbin/reboot", kRebootStandIn, 0755);
    box.Place("/etc/sysconfig/rc.conf", RcConf({"httpd"}));
    box.Place("/etc/vigilerd/httpd", RebootingService("httpd", "reboot"));
    // The status script itself lets the voice subsystem go before its third run fails.
    ScriptStatus(box, "httpd", {"1", "1", std::string("1 ") + kVoiceLetsGo, "0"});
    box.BeforeCommand([](Box& b) { HoldTheLock(b); });
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 4, seconds(15))) << box.Dump();

    std::vector<std::vector<std::string>> passes = Passes(box.Messages());
    const std::string cmd = "/etc/vigilerd/scripts/httpd status";
    const std::string busy =
        "Error: Voice subsystem is in use. Could not execute the escalation command";
    auto failed = [&](int count, const std::vector<std::string>& then) {
        std::vector<std::string> pass = {
            kStarted,
            "Debug: Calling " + cmd,
            "Debug: Return value: 1",
            "Warning: returnValue 1 (BAD RETURN) from cmd = " + cmd + " ()",
            "Warning: current fails for httpd is " + std::to_string(count) + " of max 1",
            kArchiveFirst,
            kArchiveDone};
        pass.insert(pass.end(), then.begin(), then.end());
        pass.push_back(kTerminated);
        return pass;
    };
    ASSERT_GE(passes.size(), 4u);
    EXPECT_EQ(passes[0], failed(1, {busy}));
    EXPECT_EQ(passes[1], failed(2, {busy}));
    EXPECT_EQ(passes[2], failed(3, {}));
    EXPECT_THAT(FirstActions(box, 8), ElementsAre("httpd status 1", "archive", "httpd status 2",
                                                  "archive", "httpd status 3", "archive",
                                                  "reboot  alerts=1 lock=held", "httpd status 4"));
    EXPECT_EQ(box.AlertRecords().size(), 1u) << box.Dump();
    EXPECT_EQ(LockState(box), "held");
}

// Only the exact text "reboot" is special: other spellings run at once, without the lock and
// without an alert, on any row, the voice row included.
TEST_F(FailureReactionInBox, OtherEscalationTextsRunWithoutLockOrAlert) {
    UseStandIns(box);
    box.Place("/usr/sbin/reboot", kRebootStandIn, 0755);
    // Capitalised, it would only be "not found"; a stand-in shows that it was run.
    box.Place("/usr/sbin/Reboot", "#!/bin/sh\necho \"Reboot $*\" >>/run/box/actions.log\n", 0755);
    box.Place("/etc/sysconfig/rc.conf", RcConf({"ppp", "dhclient", "ipsec", "dhcpd_lan", "voice"}));
    box.Place("/etc/vigilerd/ppp", RebootingService("ppp", "Reboot"));
    box.Place("/etc/vigilerd/dhclient", RebootingService("dhclient", "/usr/sbin/reboot"));
    box.Place("/etc/vigilerd/ipsec", RebootingService("ipsec", "\"reboot \""));
    box.Place("/etc/vigilerd/dhcpd_lan", RebootingService("dhcpd_lan", "reboot now"));
    box.Place("/etc/vigilerd/voice", RebootingService("voice", "reboot voice"));
    for (const char* name : {"ppp", "dhclient", "ipsec", "dhcpd_lan", "voice"}) {
        ScriptStatus(box, name, {"1"});
    }
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 2, seconds(15))) << box.Dump();

    std::vector<std::vector<std::string>> passes = Passes(box.Messages());
    ASSERT_GE(passes.size(), 1u);
    std::vector<std::string> expected = {kStarted};
    for (const char* name : {"ppp", "dhclient", "ipsec", "dhcpd_lan", "voice"}) {
        std::string cmd = std::string("/etc/vigilerd/scripts/") + name + " status";
        expected.insert(expected.end(),
                        {"Debug: Calling " + cmd, "Debug: Return value: 1",
                         "Warning: returnValue 1 (BAD RETURN) from cmd = " + cmd + " ()",
                         std::string("Warning: current fails for ") + name + " is 1 of max 1",
                         kArchiveFirst, kArchiveDone});
    }
    expected.push_back(kTerminated);
    EXPECT_EQ(passes[0], expected);
    EXPECT_THAT(FirstActions(box, 15),
                ElementsAre("ppp status 1", "archive", "Reboot ", "dhclient status 1", "archive",
                            "reboot  alerts=0 lock=free", "ipsec status 1", "archive",
                            "reboot  alerts=0 lock=free", "dhcpd_lan status 1", "archive",
                            "reboot now alerts=0 lock=free", "voice status 1", "archive",
                            "reboot voice alerts=0 lock=free"));
    EXPECT_TRUE(box.AlertRecords().empty()) << box.Dump();
    EXPECT_EQ(LockState(box), "free");
}

// The voice row repairs only under the voice lock, gives it back whatever the repair returned,
// and while the voice subsystem holds it, skips the repair and keeps its count.
TEST_F(FailureReactionInBox, VoiceRepairRunsOnlyUnderTheLockAndGivesItBack) {
    UseStandIns(box);
    box.Place("/etc/sysconfig/rc.conf", RcConf({"voice", "vpnd"}));
    box.Place("/etc/vigilerd/voice", std::string("[basic]\nSCRIPT=/etc/vigilerd/scripts/voice\n"
                                                 "GOOD_RET=0,\nBAD_RET=1,2,\nMAX_FAIL=1\n"
                                                 "[failcmd1]\nFAIL_CMD=") +
                                         kRepairFails + "\n[failcmd2]\nFAIL_CMD=" + kRepairWorks +
                                         "\n");
    // The row after voice probes the lock, so each pass shows it free again after the repair.
    box.Place("/etc/vigilerd/vpnd",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/vpnd\nGOOD_RET=0,\nMAX_FAIL=1\n");
    box.Place("/etc/vigilerd/scripts/vpnd",
              std::string("#!/bin/sh\nexec ") + kAct + " vpnd-probe 0\n", 0755);
    // Runs 3 and 4 fail while a stand-in voice subsystem holds the lock; run 5 lets it go.
    ScriptStatus(box, "voice",
                 {"1", "2", std::string("1 ") + kVoiceTakesTheLock, "1",
                  std::string("1 ") + kVoiceLetsGo, "0"});
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 6, seconds(20))) << box.Dump();

    const std::string cmd = "/etc/vigilerd/scripts/voice status";
    const std::vector<std::string> vpnd = {"Debug: Calling /etc/vigilerd/scripts/vpnd status",
                                           "Debug: Return value: 0"};
    auto failed = [&](int code, int count, const std::vector<std::string>& then) {
        std::string value = std::to_string(code);
        std::vector<std::string> pass = {
            kStarted,
            "Debug: Calling " + cmd,
            "Debug: Return value: " + value,
            "Warning: returnValue " + value + " (BAD RETURN) from cmd = " + cmd + " ()",
            "Warning: current fails for voice is " + std::to_string(count) + " of max 1",
            kArchiveFirst,
            kArchiveDone};
        pass.insert(pass.end(), then.begin(), then.end());
        pass.insert(pass.end(), vpnd.begin(), vpnd.end());
        pass.push_back(kTerminated);
        return pass;
    };
    const std::string executing = std::string("Error: Executing the fail command ");
    const std::string busy = "Error: Voice subsystem is in use. Could not execute the fail command";
    std::vector<std::vector<std::string>> passes = Passes(box.Messages());
    ASSERT_GE(passes.size(), 6u);
    passes.resize(6);
    EXPECT_THAT(
        passes,
        ElementsAre(
            failed(1, 1,
                   {executing + kRepairFails,
                    "Error: Fail Command not successfully executed, got Errorcode = 1 ()"}),
            failed(2, 2, {executing + kRepairWorks, "Info: Fail Command successfully executed"}),
            failed(1, 1, {executing + kRepairFails, busy}),
            failed(1, 2, {executing + kRepairFails, busy}),
            failed(1, 3,
                   {executing + kRepairFails,
                    "Error: Fail Command not successfully executed, got Errorcode = 1 ()"}),
            ElementsAre(kStarted, "Debug: Calling " + cmd, "Debug: Return value: 0", vpnd[0],
                        vpnd[1], kTerminated)));
    EXPECT_THAT(FirstActions(box, 20),
                ElementsAre("voice status 1", "archive", "repair-fails lock=held",
                            "vpnd-probe lock=free",  //
                            "voice status 2", "archive", "repair-works lock=held",
                            "vpnd-probe lock=free",                               //
                            "voice status 3", "archive", "vpnd-probe lock=held",  //
                            "voice status 4", "archive", "vpnd-probe lock=held",  //
                            "voice status 5", "archive", "repair-fails lock=held",
                            "vpnd-probe lock=free",  //
                            "voice status 6", "vpnd-probe lock=free"));
    EXPECT_TRUE(box.AlertRecords().empty());
    EXPECT_EQ(LockState(box), "free");
}

// `count` physical log lines from the first one that contains `part`, the first without its
// time and pid prefix; the others as they stand.
std::vector<std::string> RawLinesFrom(const Box& box, const std::string& part, size_t count) {
    std::vector<std::string> lines = box.LogLines();
    for (size_t i = 0; i < lines.size(); ++i) {
        size_t prefixEnd = lines[i].find("] ");
        if (lines[i].find(part) == std::string::npos || prefixEnd == std::string::npos) {
            continue;
        }
        std::vector<std::string> raw = {lines[i].substr(prefixEnd + 2)};
        for (size_t j = i + 1; j < lines.size() && raw.size() < count; ++j) {
            raw.push_back(lines[j]);
        }
        return raw;
    }
    return {};
}

// Output goes into the log as the command delivered it: a trailing newline puts the closing
// parenthesis on a line of its own. A failed repair's line shows the repair's output, except
// on the voice row, whose repair output is dropped: there it still shows the status output.
TEST_F(FailureReactionInBox, OutputAppearsAsDelivered) {
    UseStandIns(box);
    box.Place("/etc/sysconfig/rc.conf", RcConf({"httpd", "voice"}));
    for (const char* name : {"httpd", "voice"}) {
        box.Place(std::string("/etc/vigilerd/") + name,
                  std::string("[basic]\nSCRIPT=/etc/vigilerd/scripts/") + name +
                      "\nGOOD_RET=0,\nBAD_RET=3,\nMAX_FAIL=1\n[failcmd3]\nFAIL_CMD=" + kAct +
                      " repair 4 repair says no\nFAIL_CMD_GOOD_RETURN=0\n");
    }
    ScriptStatus(box, "httpd", {"3 printf 'httpd is down\\nreally\\n'"});
    ScriptStatus(box, "voice", {"3 printf 'voice is down\\n'"});
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1, seconds(10))) << box.Dump();

    std::vector<std::vector<std::string>> passes = Passes(box.Messages());
    ASSERT_GE(passes.size(), 1u);
    const std::string repair =
        std::string("Error: Executing the fail command ") + kAct + " repair 4 repair says no";
    EXPECT_THAT(
        passes[0],
        ElementsAre(
            kStarted, "Debug: Calling /etc/vigilerd/scripts/httpd status", "Debug: Return value: 3",
            "Warning: returnValue 3 (BAD RETURN) from cmd = /etc/vigilerd/scripts/httpd status "
            "(httpd is down\nreally\n)",
            "Warning: current fails for httpd is 1 of max 1", kArchiveFirst, kArchiveDone, repair,
            "Error: Fail Command not successfully executed, got Errorcode = 4 (repair says no)",
            "Debug: Calling /etc/vigilerd/scripts/voice status", "Debug: Return value: 3",
            "Warning: returnValue 3 (BAD RETURN) from cmd = /etc/vigilerd/scripts/voice status "
            "(voice is down\n)",
            "Warning: current fails for voice is 1 of max 1", kArchiveFirst, kArchiveDone, repair,
            "Error: Fail Command not successfully executed, got Errorcode = 4 (voice is down\n)",
            kTerminated));

    // The raw lines: the output's own lines, and the closing parenthesis after its last
    // newline, stand without a time and pid prefix.
    EXPECT_THAT(RawLinesFrom(box, "(httpd is down", 3),
                ElementsAre("Warning: returnValue 3 (BAD RETURN) from cmd = "
                            "/etc/vigilerd/scripts/httpd status (httpd is down",
                            "really", ")"));
    EXPECT_THAT(RawLinesFrom(box, "(voice is down", 2),
                ElementsAre("Warning: returnValue 3 (BAD RETURN) from cmd = "
                            "/etc/vigilerd/scripts/voice status (voice is down",
                            ")"));
    EXPECT_THAT(RawLinesFrom(box, "Errorcode = 4 (voice is down", 2),
                ElementsAre("Error: Fail Command not successfully executed, got Errorcode = 4 "
                            "(voice is down",
                            ")"));
}

// A pause request while a status script runs: the row ends, its failure reaction included,
// and the pass ends there; the rows after it wait.
TEST_F(FailureReactionInBox, PauseDuringAStatusRunFinishesThatRowAndNoMore) {
    UseStandIns(box);
    box.Place("/etc/sysconfig/rc.conf", RcConf({"dhclient", "httpd"}));
    box.Place("/etc/vigilerd/dhclient",
              std::string("[basic]\nSCRIPT=/etc/vigilerd/scripts/dhclient\nGOOD_RET=0,\n"
                          "BAD_RET=1,\nMAX_FAIL=1\n[failcmd1]\nFAIL_CMD=") +
                  kRepairFails + "\n");
    box.Place("/etc/vigilerd/httpd",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/httpd\nGOOD_RET=0,\nMAX_FAIL=1\n");
    // The first pass is whole; in the second, dhclient announces that it runs, then lingers.
    ScriptStatus(box, "dhclient", {"0", "1 touch /run/box/lingering; sleep 2"});
    ScriptStatus(box, "httpd", {});
    box.Start();
    ASSERT_TRUE(WaitUntil([&] { return box.Exists("/run/box/lingering"); }, seconds(15)))
        << box.Dump();
    box.Signal(SIGHUP);
    ASSERT_TRUE(box.WaitForCount(kTerminated, 2, seconds(10))) << box.Dump();
    // A further tick finds the daemon waiting.
    ASSERT_GE(
        box.WaitForMessage("Info: scheduled for test loop but waiting mode is set", seconds(5)), 0)
        << box.Dump();

    std::vector<std::string> messages = box.Messages();
    std::vector<std::vector<std::string>> passes = Passes(messages);
    ASSERT_EQ(passes.size(), 2u);
    const std::string cmd = "/etc/vigilerd/scripts/dhclient status";
    EXPECT_THAT(passes[0], ElementsAre(kStarted, "Debug: Calling " + cmd, "Debug: Return value: 0",
                                       "Debug: Calling /etc/vigilerd/scripts/httpd status",
                                       "Debug: Return value: 0", kTerminated));
    EXPECT_THAT(
        passes[1],
        ElementsAre(kStarted, "Debug: Calling " + cmd, "Debug: got signal: 1",
                    "Info: Wait mode has been set (40 seconds)", "Debug: Return value: 1",
                    "Warning: returnValue 1 (BAD RETURN) from cmd = " + cmd + " ()",
                    "Warning: current fails for dhclient is 1 of max 1", kArchiveFirst,
                    kArchiveDone, std::string("Error: Executing the fail command ") + kRepairFails,
                    "Error: Fail Command not successfully executed, got Errorcode = 1 ()",
                    kTerminated));
    EXPECT_THAT(Actions(box),
                ElementsAre("dhclient status 1", "httpd status 1", "dhclient status 2", "archive",
                            "repair-fails lock=free"));
}

}  // namespace
}  // namespace e2e
