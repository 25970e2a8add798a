// Failure reaction of the real daemon: the count that leads to the fail command and to the
// escalation, the voice lock around reboots and voice repairs, and command output in the log.
#include "scenario.h"

namespace e2e::scenario {

const std::string kFails = std::string(kAct) + " repair-fails 1";
const std::string kWorks = std::string(kAct) + " repair-works 0";
const std::string kFailed = "Error: Fail Command not successfully executed, got Errorcode = ";

struct CountCase {
    const char* name;
    int maxFail;
    std::string keys;  // besides SCRIPT, GOOD_RET=0, BAD_RET=1,2, and MAX_FAIL
    // One pass each, "CODE:COUNT" and what the count calls for: F the failing repair (for
    // code 1), W the working one (code 2), E the escalation; 0 is good, 7 unknown.
    const char* runs;
};

class Count : public BoxTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(Count, EachFailureArchivesThenRunsWhatTheCountCallsFor) {
    const CountCase& c = GetParam();
    box.Place("/etc/sysconfig/rc.conf", RcConf("httpd"));
    box.Place("/etc/vigilerd/httpd",
              Service("httpd", "BAD_RET=1,2,\nMAX_FAIL=" + std::to_string(c.maxFail) + "\n" +
                                   c.keys + "[failcmd1]\nFAIL_CMD=" + kFails +
                                   "\n[failcmd2]\nFAIL_CMD=" + kWorks + "\n"));
    std::vector<Lines> passes;
    Lines actions;
    std::string codes;
    int n = 0;
    for (const std::string& run : Split(c.runs, ' ')) {
        codes += run.substr(0, 1) + "|";
        actions.push_back("httpd status " + std::to_string(++n));
        Lines then = {"Error: ***WARNING*** unknown returnvalue 7 for ConfigConfiguration[7]"};
        if (run[0] == '1' || run[0] == '2') {
            actions.push_back("archive");
            then = Counted("httpd", run[2] - '0', c.maxFail);
        }
        if (run.back() == 'F' || run.back() == 'W') {
            bool works = run.back() == 'W';
            then.insert(then.end(),
                        {kExec + (works ? kWorks : kFails),
                         works ? kWorked : kFailed + "1 ()"});
            actions.push_back(works ? "repair-works lock=free" : "repair-fails lock=free");
        }
        if (run.back() == 'E')
            actions.push_back("escalate lock=free");
        passes.push_back(Pass({Call("httpd", run[0] - '0', run[0] == '0' ? Lines{} : then)}));
    }
    passes.push_back(Pass({Call("httpd", 0)}));
    actions.push_back("httpd status " + std::to_string(n + 1));
    ScriptStatus(box, "httpd", codes);
    box.Start();
    EXPECT_EQ(WaitForPasses(box, passes.size(), seconds(5 + 2 * passes.size())), passes);
    EXPECT_EQ(Actions(box, actions.size()), actions);
}

const std::string kEscalate = "ESCALATION_CMD=" + std::string(kAct) + " escalate 0\n";
INSTANTIATE_TEST_SUITE_P(
    Box, Count,
    ::testing::Values(
        CountCase{"MaxFail3Escalation5", 3, "FAILS_FOR_ESCALATION=5\n" + kEscalate,
                  "1:1 1:2 1:3F 1:4F 1:5E 1:6E"},
        // A working repair and a good result start the count afresh, an unknown value leaves
        // it; without FAILS_FOR_ESCALATION the escalation command is never used.
        CountCase{"RepairAndGoodResultReset", 2, kEscalate, "1:1 2:2W 1:1 0 1:1 7 1:2F"},
        CountCase{"EscalationWithoutCommand", 1, "FAILS_FOR_ESCALATION=2\n", "1:1F 1:2F 1:3F"},
        CountCase{"EscalationAtZero", 3, "FAILS_FOR_ESCALATION=0\n" + kEscalate, "1:1E 1:2E"}),
    [](const ::testing::TestParamInfo<CountCase>& info) { return info.param.name; });

constexpr const char* kLetGo =
    "kill $(cat /run/box/holder.pid); until voice_lock_holder 0; do sleep 0.05; done >/dev/null";

// The voice row repairs only under the voice lock and gives it back; while the voice subsystem
// holds it, neither that repair nor "reboot" runs. Once it is free, "reboot" is announced, then
// run under the voice lock, which the daemon keeps: a reboot that did not take the box down
// leaves the lock with the daemon, the next escalation is announced and run again, and the voice
// repair still runs. The vpnd stand-in records the lock after each pass's repairs.
TEST_F(BoxTest, VoiceLockAroundRepairsAndReboots) {
    box.Place("/usr/sbin/reboot", std::string("#!/bin/sh\nexec ") + kAct + " reboot 0\n", 0755);
    box.Place("/etc/sysconfig/rc.conf", RcConf("httpd|voice|vpnd"));
    box.Place("/etc/vigilerd/httpd", Service("httpd", "FAILS_FOR_ESCALATION=1\nBAD_RET=1,\nMAX_FAIL=1\n"
                                                      "ESCALATION_CMD=reboot\n[failcmd1]\nFAIL_CMD=x\n"));
    box.Place("/etc/vigilerd/voice",
              Service("voice", "BAD_RET=1,\nMAX_FAIL=1\n[failcmd1]\nFAIL_CMD=" + kFails + "\n"));
    box.Place("/etc/vigilerd/vpnd", Service("vpnd", "MAX_FAIL=1\n"));
    box.Place("/etc/vigilerd/scripts/vpnd", std::string("#!/bin/sh\nexec ") + kAct + " vpnd 0\n",
              0755);
    ScriptStatus(box, "httpd", std::string("0|1 ") + kTakeLock + "|1 " + kLetGo + "|1");
    ScriptStatus(box, "voice", "1|1|1");
    box.Start();
    Lines failed = {kExec + kFails, kFailed + "1 ()"};
    Lines busy = {kExec + kFails, "Error: Voice subsystem is in use. Could not execute the fail command"};
    Lines rebootBusy = {"Error: Voice subsystem is in use. Could not execute the escalation command"};
    Lines vpnd = Call("vpnd", 0);
    EXPECT_EQ(WaitForPasses(box, 5),
              (std::vector<Lines>{
                  Pass({Call("httpd", 0), Call("voice", 1, Counted("voice", 1, 1, failed)), vpnd}),
                  Pass({Call("httpd", 1, Counted("httpd", 1, 1, rebootBusy)),
                        Call("voice", 1, Counted("voice", 2, 1, busy)), vpnd}),
                  Pass({Call("httpd", 1, Counted("httpd", 2, 1)),
                        Call("voice", 1, Counted("voice", 3, 1, failed)), vpnd}),
                  Pass({Call("httpd", 1, Counted("httpd", 3, 1)), Call("voice", 0), vpnd}),
                  Pass({Call("httpd", 0), Call("voice", 0), vpnd})}));
    EXPECT_EQ(Actions(box, 24),
              Split("httpd status 1|voice status 1|archive|repair-fails lock=held|vpnd lock=free|"
                    "httpd status 2|archive|voice status 2|archive|vpnd lock=held|httpd status 3|"
                    "archive|reboot lock=held|voice status 3|archive|repair-fails lock=held|vpnd "
                    "lock=held|httpd status 4|archive|reboot lock=held|voice status 4|vpnd "
                    "lock=held|httpd status 5|voice status 5"));
    EXPECT_TRUE(WaitUntil([&] { return box.AlertRecords().size() >= 2; }));
    EXPECT_EQ(box.Records(), Lines(2, "<25>Software Watchdog: httpd reported too many errors. "
                                      "Executing Escalation Command."));
}

// Output reaches the log as delivered, standard error included, cut at 4096 bytes, and a
// process left behind cannot hold it up; a failed repair's line shows its output, on the voice
// row the status output instead. Commands start with the standard descriptors only (ls adds
// its own 3), no signal ignored, not even the C library's reserved ones, or blocked: a script
// or a shell that ends by SIGTERM reports 143. A plain command line starts its program without
// a shell, so no shell adds a "Killed" notice.
TEST_F(BoxTest, CommandOutputInTheLog) {
    box.Place("/etc/sysconfig/rc.conf", RcConf("ppp|dhclient|ipsec|named|httpd|voice|tftpd"));
    for (const char* name : {"httpd", "voice"})
        box.Place(std::string("/etc/vigilerd/") + name,
                  Service(name, std::string("BAD_RET=3,\nMAX_FAIL=1\n[failcmd3]\nFAIL_CMD=") +
                                    kAct + " repair 4 repair says no\n"));
    box.Place("/etc/vigilerd/named", Service("named",
                                             "BAD_RET=143,\nMAX_FAIL=1\n[failcmd143]\n"
                                             "FAIL_CMD=kill -TERM $$; echo after\n"));
    for (const char* name : {"ppp", "dhclient", "ipsec", "tftpd"})
        box.Place(std::string("/etc/vigilerd/") + name, Service(name, "MAX_FAIL=1\n"));
    ScriptStatus(box, "ppp", "3 (sleep 5; echo late) & echo now");
    ScriptStatus(
        box, "dhclient",
        "3 while read k v; do case $k in Sig[BI][lg][kn]:) printf '%s ' $v;; esac; done "
        "</proc/$$/status; echo $(ls /proc/self/fd)");
    ScriptStatus(box, "ipsec", "0 kill -9 $$");
    ScriptStatus(box, "named", "3 kill -TERM $$");
    ScriptStatus(box, "httpd", "3 printf 'httpd is down\\nreally\\n'; echo err >&2");
    ScriptStatus(box, "voice", "3 printf 'voice is down\\n'");
    ScriptStatus(box, "tftpd", "3 printf %05000d 0");
    box.Start();
    auto unknown = [](int value, int row) {
        return Lines{"Error: ***WARNING*** unknown returnvalue " + std::to_string(value) +
                     " for ConfigConfiguration[" + std::to_string(row) + "]"};
    };
    Lines repair = {kExec + kAct + " repair 4 repair says no"};
    EXPECT_EQ(
        WaitForPasses(box, 1),
        std::vector<Lines>{Pass(
            {Call("ppp", 3, unknown(3, 0), "now\n"),
             Call("dhclient", 3, unknown(3, 1), "0000000000000000 0000000000000000 0 1 2 3\n"),
             Call("ipsec", 137, unknown(137, 2)),
             Call(
                 "named", 143,
                 Counted("named", 1, 1, {kExec + "kill -TERM $$; echo after", kFailed + "143 ()"})),
             Call("httpd", 3, Counted("httpd", 1, 1, {repair[0], kFailed + "4 (repair says no)"}),
                  "httpd is down\nreally\nerr\n"),
             Call("voice", 3, Counted("voice", 1, 1, {repair[0], kFailed + "4 (voice is down\n)"}),
                  "voice is down\n"),
             Call("tftpd", 3, unknown(3, 12), std::string(4096, '0'))})});
}

}  // namespace e2e::scenario
