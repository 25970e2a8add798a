// Start-up of the real daemon in its box: the log it gives for each state of its settings and
// rc.conf, the states it sleeps in for good, its log and pid file, and the signals it obeys.
#include <signal.h>

#include <regex>
#include <thread>

#include "scenario.h"

namespace e2e::scenario {

const char* const kAsleep = "Info: got sleep signal. Ignoring all signals and going to sleep";
const std::string kAllOff = "|" + std::string(kRcPass) + "|" + kOthersOff;

struct StartCase {
    const char* name;
    std::string prepare;   // shell text run in the box before the daemon starts
    std::string messages;  // the log, "|" between messages; with "...", only its start
    const char* stderrText;
    const char* reason = "";  // of a daemon asleep for good, in the state file
};

// The log after start-up (appended to an older one, every line with the time and the daemon's
// pid), the pid file, then the signals: a daemon asleep for good logs nothing more, the others
// go to sleep on SIGTERM and remove the pid file.
class StartUp : public BoxTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartUp, LogsThisAndGoesOnOrSleeps) {
    const StartCase& c = GetParam();
    bool ticks = c.messages.find("...") != std::string::npos;
    Lines expected = Split(c.messages.substr(0, c.messages.find("|...")));
    box.Prepare(c.prepare).Start();
    ASSERT_TRUE(WaitUntil([&] { return box.Messages().size() >= expected.size(); }));
    if (!ticks)
        std::this_thread::sleep_for(milliseconds(1500));  // a tick would have come
    Lines log = box.Messages();
    if (ticks)
        log.resize(expected.size());
    EXPECT_EQ(log, expected);
    EXPECT_EQ(box.Stderr(), c.stderrText);
    // Each line of this daemon's starts with the time and its pid; none is cut short.
    std::string line = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] [0-9:]{8} [0-9]{4} \\[" +
                       std::to_string(box.Pid()) + "\\] [^\n]*\n";
    EXPECT_TRUE(std::regex_match(box.LogText(), std::regex("(an older line\n)?(" + line + ")*")));
    if (ticks) {
        EXPECT_EQ(box.Read("/var/run/vigilerd.pid"), std::to_string(box.Pid()) + "\n");
    }
    bool asleep = c.messages.find("Sleeping forever") != std::string::npos ||
                  c.messages.find("going to sleep") != std::string::npos || c.stderrText[0];
    std::string before = box.LogText();
    // The ignored signals first: none of them may stop or end the daemon.
    for (int sig : {SIGINT, SIGILL, SIGQUIT, SIGTRAP, SIGUSR1, SIGUSR2, SIGCONT, SIGTSTP, SIGTTIN,
                    SIGTTOU, SIGHUP, SIGALRM, SIGTERM})
        box.Signal(sig);
    if (asleep)
        std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_TRUE(asleep ? box.LogText() == before : box.WaitForMessage(kAsleep) > 0);
    EXPECT_TRUE(asleep || !box.Exists("/var/run/vigilerd.pid"));
    std::string reason = "\nREASON=" + std::string(asleep ? c.reason : "stopped") + "\n";
    EXPECT_TRUE(WaitUntil([&] { return box.Read("/var/run/vigilerd.state").find(reason) != std::string::npos; }));
    EXPECT_EQ(box.ProcField("State").substr(0, 1), "S");
}

INSTANTIATE_TEST_SUITE_P(
    Box, StartUp,
    ::testing::Values(
        StartCase{"Minimal", "echo an older line >/var/log/vigilerd.log",
                  std::string("an older line|Info: started") + kAllOff + "|" + kTick + "|" +
                      kStarted +
                      "|Debug: Calling /etc/vigilerd/scripts/ntp status|Debug: Return value: "
                      "0|Debug: Calling /etc/vigilerd/scripts/httpd status|Debug: Return value: "
                      "0|" +
                      kTerminated + "|...",
                  ""},
        StartCase{"FileOthersCanChange", "chmod g+w /etc/vigilerd/httpd",
                  std::string("Info: started") + kAllOff +
                      "|Warning: /etc/vigilerd/httpd is writable by others, and vigilerd runs it "
                      "as root|" + kTick + "|...",
                  ""},
        StartCase{"NoKeys", "echo '# none' >/etc/vigilerd.conf",
                  "Info: started|Error: failed to get the value from CHECK_INTERVAL|Error: "
                  "failed to get the value from FREE_LIMIT_BBRAM|Error: failed to get the value "
                  "from CRITICAL_LIMIT_BBRAM|Error: failed to get the value from "
                  "FREEL_LIMIT_CONFIG|Error: failed to get the value from CRITICAL_LIMIT_CONFIG",
                  ""},
        StartCase{"IntervalMinusOne", "sed -i s/INTERVAL=1/INTERVAL=-1/ /etc/vigilerd.conf",
                  "Info: started", ""},
        StartCase{"IntervalZero", "sed -i s/INTERVAL=1/INTERVAL=0/ /etc/vigilerd.conf",
                  std::string("Info: started") + kAllOff, ""},
        // A FIFO, a device or a directory reads as a file that cannot be read, at once.
        StartCase{"NoSettings", "rm /etc/vigilerd.conf && mkfifo /etc/vigilerd.conf",
                  "Info: started|Error: failed to open /etc/vigilerd.conf, going to sleep", "",
                  "settings"},
        StartCase{"NoRcConf", "rm /etc/sysconfig/rc.conf && mkfifo /etc/sysconfig/rc.conf",
                  "Info: started|Error: failed to open /etc/sysconfig/rc.conf|Warning: Sleeping "
                  "forever",
                  "", "rc-conf"},
        StartCase{"NoFiles",
                  "rm /run/interfaces /etc/vigilerd/httpd && mkfifo /run/interfaces "
                  "/etc/vigilerd/httpd && ln -sf /dev/null /etc/vigilerd/ntp",
                  std::string("Info: started") + kAllOff +
                      "|Error: failed to open /var/run/interfaces|Error: Catched exception: "
                      "cannot read /etc/vigilerd/ntp: not a regular file|Error: Catched "
                      "exception: cannot read /etc/vigilerd/httpd: not a regular file|...",
                  ""},
        StartCase{"SwitchedOff", "echo START_VIGILERD=True >/etc/sysconfig/rc.conf",
                  "Info: started|Warning: Sleeping forever", "", "disabled"},
        StartCase{"NoSwitch", "echo START_HTTPD=true >/etc/sysconfig/rc.conf",
                  "Info: started|Error: Error: Entry START_VIGILERD not found rc.conf "
                  "file.|Warning: Sleeping forever",
                  "", "disabled"},
        StartCase{"PidFileBlocked", "mkdir /run/vigilerd.pid",
                  "Fatal Error: Could not open pidfile /var/run/vigilerd.pid. (21 = Is a "
                  "directory)|Warning: Sleeping forever",
                  "", "pid-file"},
        StartCase{"LogBlocked", "mkdir /var/log/vigilerd.log", "",
                  "Fatal Error: Could not open logfile /var/log/vigilerd.log. (21 = Is a "
                  "directory)\nWarning: Sleeping forever\n",
                  "log-file"}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

}  // namespace e2e::scenario
