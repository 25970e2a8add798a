// End-to-end start-up with a file for each of the thirteen services: faulty files of every
// kind, services switched off by rc.conf, the log they give, and which scripts then run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "box.h"
#include "scenario.h"

namespace e2e {
namespace {

using namespace scenario;
using std::chrono::seconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class ServiceFilesInBox : public BoxTest {};

TEST_F(ServiceFilesInBox, ThirteenFilesFaultyDisabledAndGood) {
    UseStandIns(box);
    box.Place("/etc/sysconfig/rc.conf",
              "START_VIGILERD=true\nSTART_PPP=true\nSTART_DHCLIENT=true\nSTART_IPSEC=true\n"
              "START_DHCPD_LAN=true\nSTART_NAMED=true\nSTART_NTPD=true\nSTART_NTP=true\n"
              "START_HTTPD=true\nSTART_VOICE=false\nSTART_VPND=no\nSTART_IPSECD=true\n"
              "START_TFTPD=true\n");  // START_STATS absent
    // The configuration files, in table order.
    box.Unplace("/etc/vigilerd/ppp");
    box.Place("/etc/vigilerd/dhclient",
              "SCRIPT=/etc/vigilerd/scripts/dhclient\nGOOD_RET=0,\nMAX_FAIL=1\n"
              "[Basic]\nSCRIPT=/etc/vigilerd/scripts/dhclient\n");
    box.Place("/etc/vigilerd/ipsec",
              "[basic]\nscript=/etc/vigilerd/scripts/ipsec\nGOOD_RET=0,\nMAX_FAIL=1\n"
              "[other]\nSCRIPT=/etc/vigilerd/scripts/ipsec\n");
    box.Place("/etc/vigilerd/dhcpd_lan",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/gone\nGOOD_RET=0,\nMAX_FAIL=1\n");
    box.Place("/etc/vigilerd/named", "[basic]\nSCRIPT=\nGOOD_RET=0,\nMAX_FAIL=1\n");
    box.Place("/etc/vigilerd/ntpd",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/ntpd\nGOODRET=0,\nMAX_FAIL=1\n");
    box.Place("/etc/vigilerd/ntp",
              std::string("[basic]\nSCRIPT=/etc/vigilerd/scripts/ntp\nGOOD_RET=0,\nBAD_RET=1,\n"
                          "[failcmd1]\nFAIL_CMD=") +
                  kAct + " repair 0\nMAX_FAIL=1\n");
    box.Place("/etc/vigilerd/httpd",
              std::string("[basic]\nSCRIPT=/etc/vigilerd/scripts/httpd\nGOOD_RET=0,\n"
                          "BAD_RET=1,2,3,\nMAX_FAIL=1\n[failcmd1]\nFAIL_CMD=") +
                  kAct + " repair 0\n[failcmd3]\nFAIL_CMD_GOOD_RETURN=0\n");
    box.Place("/etc/vigilerd/voice",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/voice\nGOOD_RET=0,\n"
              "FAILS_FOR_ESCALATION=3\nMAX_FAIL=1\n");
    box.Place("/etc/vigilerd/vpnd",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/vpnd\nGOOD_RET=0,\nMAX_FAIL=2147483647\n");
    box.Unplace("/etc/vigilerd/ipsecd");
    box.PlaceDir("/etc/vigilerd/ipsecd");  // exists, but cannot be read as a file
    box.Place("/etc/vigilerd/stats",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/stats\nGOOD_RET=0,\nMAX_FAIL=1\n");
    box.Place("/etc/vigilerd/tftpd",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/tftpd\nGOOD_RET=0,\n"
              "FAILS_FOR_ESCALATION=2147483647\nMAX_FAIL=1\n");
    // Every service gets the recording status stand-in; only httpd and ntp ever fail.
    for (const char* name : {"dhclient", "ipsec", "ntpd", "voice", "vpnd", "stats", "tftpd"}) {
        ScriptStatus(box, name, {});
    }
    ScriptStatus(box, "httpd", {"2", "3", "1"});
    ScriptStatus(box, "ntp", {"1"});
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 3, seconds(15))) << box.Dump();

    std::vector<std::string> messages = box.Messages();
    const size_t startUp = 15;
    ASSERT_GE(messages.size(), startUp);
    EXPECT_THAT(
        std::vector<std::string>(messages.begin(), messages.begin() + startUp),
        ElementsAre(
            "Info: started", "Info: (Re)reading rc.conf.",
            "voice, vpnd not monitored. Disabled by rc.conf.",
            "Error: Configuration file /etc/vigilerd/ppp not found.",
            "Error: Config file error (/etc/vigilerd/dhclient): Section basic not found",
            "Error: Config file error (/etc/vigilerd/ipsec): Section key SCRIPT not found",
            "Error: Config file error (/etc/vigilerd/dhcpd_lan): Script /etc/vigilerd/scripts/gone "
            "not found",
            "Error: Config file error (/etc/vigilerd/named): Script  not found",
            "Error: Config file error (/etc/vigilerd/ntpd): Section key GOOD_RET not found",
            "Error: Config file error (/etc/vigilerd/ntp): Section key MAX_FAIL not found",
            "Error: Could not find the Section failcmd2 in /etc/vigilerd/httpd",
            "Error: Could not find FAIL_CMD entry in Section failcmd3",
            "Warning: Config file error (/etc/vigilerd/voice): FAILS_FOR_ESCALATION without "
            "ESCALATION_CMD, never escalating",
            "Error: Config file error (/etc/vigilerd/vpnd): Section key MAX_FAIL not found",
            "Error: Catched exception: cannot read /etc/vigilerd/ipsecd: Is a directory"));

    // Only httpd and tftpd are checked; ipsecd, switched on but without settings, is skipped.
    // httpd's values 2 and 3 lost their fail commands; 1 kept its own.
    const std::string httpd = "/etc/vigilerd/scripts/httpd status";
    auto pass = [&](const std::vector<std::string>& httpdLines) {
        std::vector<std::string> lines = {kStarted, "Debug: Calling " + httpd};
        lines.insert(lines.end(), httpdLines.begin(), httpdLines.end());
        lines.insert(lines.end(), {"Error: Service ipsecd has no status script, skipped",
                                   "Debug: Calling /etc/vigilerd/scripts/tftpd status",
                                   "Debug: Return value: 0", kTerminated});
        return lines;
    };
    auto unknown = [&](const std::string& value) {
        return std::vector<std::string>{
            "Debug: Return value: " + value,
            "Warning: returnValue " + value + " (BAD RETURN) from cmd = " + httpd + " ()",
            "Error: ***WARNING*** unknown returnvalue " + value + " for ConfigConfiguration[7]"};
    };
    std::vector<std::vector<std::string>> passes = Passes(messages);
    ASSERT_GE(passes.size(), 3u);
    passes.resize(3);
    EXPECT_THAT(
        passes,
        ElementsAre(
            pass(unknown("2")), pass(unknown("3")),
            pass({"Debug: Return value: 1",
                  "Warning: returnValue 1 (BAD RETURN) from cmd = " + httpd + " ()",
                  "Warning: current fails for httpd is 1 of max 1", kArchiveFirst, kArchiveDone,
                  std::string("Error: Executing the fail command ") + kAct + " repair 0",
                  "Info: Fail Command successfully executed"})));
    // The messages before the first pass are the start-up and the first tick.
    EXPECT_EQ(std::find(messages.begin(), messages.end(), kStarted) - messages.begin(),
              static_cast<long>(startUp) + 1);
    EXPECT_THAT(FirstActions(box, 8),
                ElementsAre("httpd status 1", "tftpd status 1", "httpd status 2", "tftpd status 2",
                            "httpd status 3", "archive", "repair lock=free", "tftpd status 3"));

    // Switching on again by rc.conf does not repair a file: rows without a script are skipped,
    // the others run with whatever their file gave before its error. ntpd has no good values,
    // so even 0 is bad; ntp kept its fail command, and without MAX_FAIL repairs at once.
    int from = Reread(box);
    EXPECT_EQ(box.Messages().at(from), "voice, vpnd not monitored. Disabled by rc.conf.");
    std::vector<std::string> after = NextPass(box, from);
    EXPECT_THAT(
        after,
        ElementsAreArray(std::vector<std::string>{
            kStarted,
            "Error: Service ppp has no status script, skipped",
            "Error: Service dhclient has no status script, skipped",
            "Error: Service ipsec has no status script, skipped",
            "Error: Service dhcpd_lan has no status script, skipped",
            "Error: Service named has no status script, skipped",
            "Debug: Calling /etc/vigilerd/scripts/ntpd status",
            "Debug: Return value: 0",
            "Warning: returnValue 0 (BAD RETURN) from cmd = /etc/vigilerd/scripts/ntpd status ()",
            "Error: ***WARNING*** unknown returnvalue 0 for ConfigConfiguration[5]",
            "Debug: Calling /etc/vigilerd/scripts/ntp status",
            "Debug: Return value: 1",
            "Warning: returnValue 1 (BAD RETURN) from cmd = /etc/vigilerd/scripts/ntp status ()",
            "Warning: current fails for ntp is 1 of max -1",
            kArchiveFirst,
            kArchiveDone,
            std::string("Error: Executing the fail command ") + kAct + " repair 0",
            "Info: Fail Command successfully executed",
            "Debug: Calling " + httpd,
            "Debug: Return value: 0",
            "Error: Service ipsecd has no status script, skipped",
            "Debug: Calling /etc/vigilerd/scripts/tftpd status",
            "Debug: Return value: 0",
            kTerminated}))
        << box.Dump();
    // Services switched off, by rc.conf or by their file, never ran their scripts.
    for (const std::string& action : Actions(box)) {
        for (const char* name : {"dhclient ", "ipsec ", "voice ", "vpnd ", "stats "}) {
            EXPECT_NE(action.rfind(name, 0), 0u) << action;
        }
    }
    EXPECT_TRUE(box.LogLinesWhole());
}

}  // namespace
}  // namespace e2e
