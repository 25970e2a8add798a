// The hardware watchdog of the real daemon, played by a FIFO whose reader stamps each byte
// with the time; its ioctls fail with ENOTTY, as on anything that is not a watchdog driver.
#include <regex>
#include <thread>

#include "scenario.h"

namespace e2e::scenario {
constexpr const char* kDevice = "WATCHDOG_DEVICE=/run/wd\nWATCHDOG_TIMEOUT=30\n";
constexpr const char* kOpened =
    "Info: Hardware watchdog /run/wd opened (unknown, timeout -1 seconds)";
constexpr const char* kStall = "Checks have stalled for 2 seconds. ";

struct WatchdogCase {
    const char* name;
    std::string keys;     // added to /etc/vigilerd.conf
    std::string prepare;  // shell text run in the box before the daemon starts
    std::string httpd;    // httpd's status runs, and its service file's extra keys
    std::string keysOfHttpd;
    // In order, "|" between: a log message to wait for, "#N" N keepalives in all, "!N" signal
    // N to the daemon, "$TEXT" a shell text in the box.
    std::string steps;
    bool fed;           // keepalives still come at the end
    std::string end;    // the stream's last entries: k a keepalive, V the magic close, EOF
    std::string alert;  // the alert raised, "" none
    std::string state;  // WATCHDOG_STATE of the state file and vigilerctl status at the end
};

class Watchdog : public BoxTest, public ::testing::WithParamInterface<WatchdogCase> {
  protected:
    Watchdog() { box.Install(VIGILERCTL_BIN, "/usr/sbin/vigilerctl"); }
    Lines Stream() { return Split(box.Read("/run/box/wd.log"), '\n'); }
    size_t Keepalives() {
        Lines all = Stream();
        return std::count_if(all.begin(), all.end(),
                             [](auto& e) { return !e.empty() && e.back() == 'k'; });
    }
};

TEST_P(Watchdog, FeedsStopsAndDisarms) {
    const WatchdogCase& c = GetParam();
    box.Prepare("echo '" + c.keys +
                "' >>/etc/vigilerd.conf; mkfifo /run/wd; (bash -c 'exec </run/wd; "
                "while IFS= read -r -d \"\" -n1 c; do echo \"$EPOCHREALTIME ${c:-k}\"; done; "
                "echo EOF' >/run/box/wd.log 2>&1 &)" +
                c.prepare);
    box.Place("/etc/vigilerd/httpd", Service("httpd", "BAD_RET=1,\nMAX_FAIL=9\n" + c.keysOfHttpd +
                                                          "[failcmd1]\nFAIL_CMD=/bin/true\n"));
    ScriptStatus(box, "httpd", c.httpd);
    box.Start();
    int at = -1, logged = 0;
    for (const std::string& step : Split(c.steps)) {
        SCOPED_TRACE(step);
        if (step[0] == '#')
            ASSERT_TRUE(WaitUntil([&] { return Keepalives() >= std::stoul(step.substr(1)); }));
        else if (step[0] == '!')
            box.Signal(std::stoi(step.substr(1)));
        else if (step[0] == '$')
            ASSERT_EQ(box.Exec(step.substr(1)).code, 0);
        else {
            ASSERT_GT(at = box.WaitForMessage(step, kWait, at + 1), 0);
            logged += step.find("ardware watchdog") != std::string::npos;
        }
        if (at >= 0 && step == Split(c.steps)[0]) {  // the device is open in the daemon only
            std::string fds = "ls -l /proc/" + std::to_string(box.Pid()) + "/fd | grep -c /run/wd";
            EXPECT_EQ(box.Exec(fds).output, c.keys.empty() ? "0\n" : "1\n");
        }
    }
    std::this_thread::sleep_for(milliseconds(500));  // the reader takes what came before
    size_t before = Keepalives();
    if (c.fed) {
        EXPECT_TRUE(WaitUntil([&] { return Keepalives() >= before + 3; }, seconds(5)));
    } else {
        std::this_thread::sleep_for(seconds(3));
        EXPECT_EQ(Keepalives(), before);
    }
    if (c.end.find("EOF") != std::string::npos) {
        EXPECT_TRUE(WaitUntil([&] { return Stream().back() == "EOF"; }));
    }
    Lines stream = Stream(), last;
    for (size_t i = stream.size() - std::min(stream.size(), Split(c.end, ' ').size());
         i < stream.size(); ++i)
        last.push_back(stream[i].substr(stream[i].find(' ') + 1));
    EXPECT_EQ(last, Split(c.end, ' '));
    // One keepalive a second while the timeout is unknown: never late, never a flood.
    double previous = 0, first = 0;
    for (const std::string& entry : stream) {
        double t = entry.back() == 'k' ? std::stod(entry) : 0;
        EXPECT_TRUE(t == 0 || previous == 0 || t - previous < 1.8) << entry;
        first = first == 0 ? t : first, previous = t > 0 ? t : previous;
    }
    EXPECT_LE(Keepalives(), previous - first + 2);
    Lines log = box.Messages();  // each watchdog line once, and no other
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(),
                      [](auto& m) { return m.find("ardware watchdog") != std::string::npos; }),
        logged);
    std::string state = box.Read("/var/run/vigilerd.state");
    EXPECT_EQ(state.find("WATCHDOG_") != std::string::npos, !c.state.empty()) << state;
    if (!c.state.empty()) {
        EXPECT_THAT(state, ::testing::HasSubstr("\nWATCHDOG_STATE=" + c.state + "\n"));
    }
    if (box.Alive() && box.Exists("/var/run/vigilerd.pid")) {  // vigilerctl status shows it
        std::string shown = box.Exec("vigilerctl status --json").output;
        std::regex json(
            "\"watchdog\":\\{\"device\":\"/run/wd\",\"timeout\":-1,\"lastKeepalive\":"
            "1[0-9]+,\"state\":\"" +
            c.state + "\"\\},\"services\"");
        EXPECT_EQ(std::regex_search(shown, json), !c.state.empty()) << shown;
    }
    if (!c.alert.empty()) {
        EXPECT_THAT(box.AlertRecords(),
                    ::testing::Contains(::testing::EndsWith(": Software Watchdog: " + c.alert)));
    }
}

const std::string kStalls = std::string(kDevice) + "WATCHDOG_STALL=2\n";
const std::string kBudget = "REBOOT_BUDGET=1\nREBOOT_BUDGET_HOURS=1\n";
INSTANTIATE_TEST_SUITE_P(
    Box, Watchdog,
    ::testing::Values(
        WatchdogCase{"OnTimeNoneAfterKill", kDevice, "", "", "", std::string(kOpened) + "|#5|!9",
                     false, "k EOF", "", "fed"},
        WatchdogCase{"TermDisarms", kDevice, "", "", "",
                     std::string(kOpened) +
                         "|#2|!15|Info: got sleep signal. Ignoring all "
                         "signals and going to sleep|Info: Hardware watchdog disarmed",
                     false, "k V EOF", "", "disarmed"},
        WatchdogCase{
            "StallStops", kStalls, "", "0 sleep 60", "",
            std::string(kOpened) + "|Error: " + kStall + "Hardware watchdog keepalives stopped",
            false, "k", std::string(kStall) + "The hardware watchdog resets the box.",
            "stopped:stall"},
        WatchdogCase{"StallWhileVoiceBusy", kStalls, std::string(";") + kTakeLock, "0 sleep 60", "",
                     std::string(kOpened) + "|Error: Voice subsystem is in use. Could not let the "
                                            "hardware watchdog reset the box",
                     true, "k", "", "fed"},
        // A stall is a reboot for the budget: recorded before the keepalives stop; under a
        // spent budget (an entry dated ahead) the watchdog is fed on, with one line per stall.
        WatchdogCase{"StallRecordedWithinBudget", kStalls + kBudget, "", "0 sleep 60", "",
                     std::string(kOpened) + "|Error: " + kStall +
                         "Hardware watchdog keepalives stopped|$grep -qx \"[0-9]* stall -\" " +
                         "/mnt/flashfs/vigilerd.reboots",
                     false, "k", std::string(kStall) + "The hardware watchdog resets the box.",
                     "stopped:stall"},
        WatchdogCase{"StallUnderSpentBudget", kStalls + kBudget,
                     ";echo $(($(date +%s) + 600)) stall - >/mnt/flashfs/vigilerd.reboots",
                     "0 sleep 60", "",
                     std::string(kOpened) + "|Error: Reboot budget spent (1 reboots in 1 hours). "
                                            "Hardware watchdog keeps being fed",
                     true, "k", "", "fed"},
        WatchdogCase{"RebootStops", kDevice, "", "1|1|1",
                     "FAILS_FOR_ESCALATION=1\nESCALATION_CMD=reboot\n",
                     std::string(kOpened) +
                         "|Info: Hardware watchdog keepalives stopped: reboot in progress",
                     false, "k", "", "stopped:reboot"},
        WatchdogCase{"HibernationKeeps", kStalls, "", "", "",
                     std::string(kOpened) +
                         "|$touch /tmp/hibernateMode|!1|Info: Hibernate mode has "
                         "been set|#7|$rm /tmp/hibernateMode|!1|Info: Hibernate "
                         "mode has been reset|" +
                         kTerminated,
                     true, "k", "", "fed"},
        WatchdogCase{"AsleepAfterStartUpKeeps", kStalls,
                     ";echo START_VIGILERD=no >/etc/sysconfig/rc.conf", "", "",
                     std::string(kOpened) + "|Warning: Sleeping forever|#4", true, "k", "", "fed"},
        WatchdogCase{"NoKey", "", "", "", "", kTerminated, false, "", "", ""}),
    [](const ::testing::TestParamInfo<WatchdogCase>& info) { return info.param.name; });

}  // namespace e2e::scenario
