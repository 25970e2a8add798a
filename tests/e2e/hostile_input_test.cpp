// End-to-end reading of hostile configuration files (NUL bytes, megabyte lines, huge numbers,
// CRLF, no final newline, binary junk, directories): clear lines, and the daemon goes on checking.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "box.h"
#include "scenario.h"

namespace e2e {
namespace {

using std::chrono::seconds;
using namespace std::string_literals;

constexpr const char* kStarted = "Debug: Thread CheckAllStati started";
constexpr const char* kTerminated = "Debug: Thread CheckAllStati terminated";
constexpr const char* kRcPass = "Info: (Re)reading rc.conf.";
constexpr const char* kArchiving = "OK, let's try to archive some important logs first...";
constexpr const char* kMarker = "/tmp/hibernateMode";
constexpr size_t kMegabyte = 1024 * 1024;

// The same bytes at every run: every value from 0 to 255, NUL, CR, '=', '[' and '#' among them.
std::string Junk(size_t size, uint32_t seed) {
    std::string junk(size, '\0');
    for (char& byte : junk) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 23);
    }
    return junk;
}

std::string Digits(size_t count, char digit) {
    return std::string(count, digit);
}

int MessageCount(const Box& box) {
    return static_cast<int>(box.Messages().size());
}

using scenario::FollowsAt;

// Sets hibernate mode and resets it again, which makes the daemon read rc.conf and the
// interface state file once more. Returns the index of the reset line.
int HibernateRound(Box& box) {
    int from = MessageCount(box);
    box.Write(kMarker, "");
    box.Signal(SIGHUP);
    int set = box.WaitForMessage("Info: Hibernate mode has been set", kWait, from);
    if (set < 0) {
        return -1;
    }
    box.Remove(kMarker);
    box.Signal(SIGHUP);
    return box.WaitForMessage("Info: Hibernate mode has been reset", kWait, set);
}

std::string RcConfAllOn() {
    std::string text = "START_VIGILERD=true\n";
    for (const char* key : {"PPP", "DHCLIENT", "IPSEC", "DHCPD_LAN", "NAMED", "NTPD", "NTP",
                            "HTTPD", "VOICE", "VPND", "IPSECD", "STATS", "TFTPD"}) {
        text += std::string("START_") + key + "=true\n";
    }
    return text;
}

class HostileInput : public BoxTest {};

// Thirteen services, each file hostile in its own way (or harmless in a hostile-looking way).
TEST_F(HostileInput, ServiceFiles) {
    const std::string dir = "/etc/vigilerd/";
    const std::string scripts = "/etc/vigilerd/scripts/";
    const std::string junk = Junk(8192, 7);
    ASSERT_EQ(junk.find("basic"), std::string::npos);
    const std::string longScript = scripts + std::string(kMegabyte, 'x');
    std::string goodList;
    for (size_t i = 0; i < kMegabyte / 2; ++i) {
        goodList += "0,";
    }

    box.Place("/etc/sysconfig/rc.conf", RcConfAllOn());
    // ppp: a directory where its file belongs.
    box.Unplace(dir + "ppp").PlaceDir(dir + "ppp");
    // dhclient: binary junk, NUL bytes and all.
    box.Place(dir + "dhclient", junk);
    // ipsec: its script path carries a NUL and a command behind it.
    box.Place(dir + "ipsec",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/ipsec\0; touch /run/box/injected\n"
              "GOOD_RET=0,\nMAX_FAIL=3\n"s);
    // dhcpd_lan: CRLF endings and no final newline; a faultless file.
    box.Place(dir + "dhcpd_lan",
              "[basic]\r\nSCRIPT=/etc/vigilerd/scripts/dhcpd_lan\r\nGOOD_RET=0,\r\nBAD_RET=1,\r\n"
              "MAX_FAIL=3\r\n[failcmd1]\r\nFAIL_CMD=/bin/true\r\nFAIL_CMD_GOOD_RETURN=0");
    // named: a limit of three thousand digits.
    box.Place(dir + "named", "[basic]\nSCRIPT=/etc/vigilerd/scripts/named\nGOOD_RET=0,\nMAX_FAIL=" +
                                 Digits(3000, '9') + "\n");
    // ntpd: lines of megabytes around a faultless file.
    box.Place(dir + "ntpd", "# " + std::string(2 * kMegabyte, 'c') + "\n" +
                                std::string(2 * kMegabyte, 'j') +
                                "\n[basic]\nNOTE=" + std::string(2 * kMegabyte, 'n') +
                                "\nSCRIPT=/etc/vigilerd/scripts/ntpd\nGOOD_RET=0,\nMAX_FAIL=3\n");
    // ntp: a script path of a megabyte.
    box.Place(dir + "ntp", "[basic]\nSCRIPT=" + longScript + "\nGOOD_RET=0,\nMAX_FAIL=3\n");
    // httpd: a bad value and an escalation count of thousands of digits.
    box.Place(dir + "httpd", "[basic]\nSCRIPT=/etc/vigilerd/scripts/httpd\nGOOD_RET=0,\nBAD_RET=" +
                                 Digits(3000, '1') +
                                 ",\nFAILS_FOR_ESCALATION=" + Digits(3000, '2') + "\nMAX_FAIL=3\n");
    // voice: an escalation command that reads "reboot" only up to its NUL.
    box.Place(dir + "voice",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/voice\nGOOD_RET=0,\nBAD_RET=1,\n"
              "FAILS_FOR_ESCALATION=1\nMAX_FAIL=1\nESCALATION_CMD=reboot\0 now\n"
              "[failcmd1]\nFAIL_CMD=/bin/false\n"s);
    box.Place(scripts + "voice", "#!/bin/sh\necho \"voice $*\" >>/run/box/status.log\nexit 1\n",
              0755);
    // vpnd: a directory where its status script belongs.
    box.Unplace(scripts + "vpnd").PlaceDir(scripts + "vpnd");
    // ipsecd: nothing but NUL bytes.
    box.Place(dir + "ipsecd", std::string(4096, '\0'));
    // stats: a good-return list of a megabyte.
    box.Place(dir + "stats", "[basic]\nSCRIPT=/etc/vigilerd/scripts/stats\nGOOD_RET=" + goodList +
                                 "\nMAX_FAIL=3\n");
    // tftpd: numbers of thousands of digits that are small numbers all the same, no final
    // newline.
    box.Place(dir + "tftpd", "[basic]\nSCRIPT=/etc/vigilerd/scripts/tftpd\nGOOD_RET=" +
                                 Digits(3000, '0') + ",\nMAX_FAIL=" + Digits(3000, '0') + "3");
    box.Start();

    int pass = box.WaitForMessage(kRcPass, seconds(30));
    EXPECT_TRUE(FollowsAt(
        box, pass,
        {kRcPass, "Error: Catched exception: cannot read /etc/vigilerd/ppp: Is a directory",
         "Error: Config file error (/etc/vigilerd/dhclient): Section basic not found",
         "Error: Config file error (/etc/vigilerd/ipsec): Section key SCRIPT not found",
         "Error: Config file error (/etc/vigilerd/named): Section key MAX_FAIL not found",
         "Error: Config file error (/etc/vigilerd/ntp): Script " + longScript + " not found",
         "Error: Config file error (/etc/vigilerd/httpd): BAD_RET entry too long, ignored",
         "Warning: Config file error (/etc/vigilerd/voice): FAILS_FOR_ESCALATION without "
         "ESCALATION_CMD, never escalating",
         "Error: Config file error (/etc/vigilerd/ipsecd): Section basic not found",
         "Debug: got signal: 14", kStarted}))
        << box.Dump();

    // The status script in the place of vpnd's is a directory: what the shell says of it.
    ExecResult vpnd = box.Exec("/bin/sh -c '/etc/vigilerd/scripts/vpnd status'");
    ASSERT_EQ(vpnd.code, 126) << vpnd.output;
    const std::vector<std::string> onePass = {
        kStarted,
        "Error: Service ppp has no status script, skipped",
        "Debug: Calling /etc/vigilerd/scripts/dhcpd_lan status",
        "Debug: Return value: 0",
        "Debug: Calling /etc/vigilerd/scripts/ntpd status",
        "Debug: Return value: 0",
        "Debug: Calling /etc/vigilerd/scripts/httpd status",
        "Debug: Return value: 0",
        "Debug: Calling /etc/vigilerd/scripts/voice status",
        "Debug: Return value: 1",
        "Warning: returnValue 1 (BAD RETURN) from cmd = /etc/vigilerd/scripts/voice status ()",
        "Warning: current fails for voice is 1 of max 1",
        kArchiving,
        "Done.",
        "Error: Executing the fail command /bin/false",
        "Error: Fail Command not successfully executed, got Errorcode = 1 ()",
        "Debug: Calling /etc/vigilerd/scripts/vpnd status",
        "Debug: Return value: 126",
        "Warning: returnValue 126 (BAD RETURN) from cmd = /etc/vigilerd/scripts/vpnd status (" +
            vpnd.output + ")",
        "Error: ***WARNING*** unknown returnvalue 126 for ConfigConfiguration[9]",
        "Debug: Calling /etc/vigilerd/scripts/stats status",
        "Debug: Return value: 0",
        "Debug: Calling /etc/vigilerd/scripts/tftpd status",
        "Debug: Return value: 0",
        kTerminated};
    int first = box.WaitForMessage(kStarted);
    EXPECT_TRUE(FollowsAt(box, first, onePass)) << box.Dump();
    // Still checking, pass after pass, the same way; the voice failures never escalate.
    std::vector<std::string> secondPass = onePass;
    secondPass[11] = "Warning: current fails for voice is 2 of max 1";
    int second = box.WaitForMessage(kStarted, kWait, first + 1);
    EXPECT_TRUE(FollowsAt(box, second, secondPass)) << box.Dump();
    EXPECT_TRUE(box.WaitForCount(kTerminated, 3));

    EXPECT_FALSE(box.Exists("/run/box/reboot.log"));
    EXPECT_FALSE(box.Exists("/run/box/injected"));
    EXPECT_TRUE(box.AlertRecords().empty());
    EXPECT_TRUE(box.Alive());
}

// rc.conf and the interface state file full of junk: the keys that are there still count, the
// ones drowned in it are off; an interface file that is a directory gives no WAN name until a
// readable one comes.
TEST_F(HostileInput, RcConfAndInterfaceFile) {
    box.Place("/etc/sysconfig/rc.conf",
              Junk(512, 3) + "\nSTART_VIGILERD=true\r\n# " + std::string(2 * kMegabyte, 'c') +
                  "\nSTART_PPP=" + std::string(2 * kMegabyte, 't') + "\n" +
                  "START_DHCLIENT=tr\0ue\n"s + "START_IPSEC=" + Digits(3000, '1') + "\n" +
                  Junk(512, 5) + "\nSTART_NTP=true\r\nSTART_HTTPD=true");
    box.Unplace("/run/interfaces").PlaceDir("/run/interfaces");
    box.Place("/etc/vigilerd/httpd",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/httpd\nDEPENDS_ON=wanlink\nGOOD_RET=0,\n"
              "MAX_FAIL=3\n");
    box.Prepare("ip address add 192.0.2.1/24 dev wan0");
    box.Start();

    const std::string disabled = "ppp, ipsec not monitored. Disabled by rc.conf.";
    const std::string notSolved =
        "Debug: Dependancy not solved: /etc/vigilerd/scripts/httpd. continue.";
    int pass = box.WaitForMessage(kRcPass);
    EXPECT_TRUE(
        FollowsAt(box, pass, {kRcPass, disabled, "Error: failed to open /var/run/interfaces"}))
        << box.Dump();
    int first = box.WaitForMessage(kStarted);
    EXPECT_TRUE(FollowsAt(box, first,
                          {kStarted, "Debug: Calling /etc/vigilerd/scripts/ntp status",
                           "Debug: Return value: 0", notSolved, kTerminated}))
        << box.Dump();

    // A readable interface file, with the name among junk, CRLF, a megabyte line and no final
    // newline: the WAN name is known and the link is up.
    box.Remove("/run/interfaces");
    box.Write("/run/interfaces", Junk(512, 11) + "\n# " + std::string(kMegabyte, 'c') +
                                     "\nVIRT_WAN=wan0\r\n" + Junk(512, 13) + "\nLAN=br0");
    int reset = HibernateRound(box);
    EXPECT_TRUE(FollowsAt(box, reset, {"Info: Hibernate mode has been reset", kRcPass, disabled}))
        << box.Dump();
    int next = box.WaitForMessage(kStarted, kWait, reset);
    EXPECT_TRUE(
        FollowsAt(box, next,
                  {kStarted, "Debug: Calling /etc/vigilerd/scripts/ntp status",
                   "Debug: Return value: 0", "Debug: Calling /etc/vigilerd/scripts/httpd status",
                   "Debug: Return value: 0", kTerminated}))
        << box.Dump();

    // A WAN name of a megabyte names no interface, and one with a NUL in it is no name.
    for (const std::string& name : {std::string(kMegabyte, 'w'), "wan0\0junk"s}) {
        box.Write("/run/interfaces", "VIRT_WAN=" + name + "\n");
        reset = HibernateRound(box);
        EXPECT_TRUE(
            FollowsAt(box, reset, {"Info: Hibernate mode has been reset", kRcPass, disabled}))
            << box.Dump();
        next = box.WaitForMessage(kStarted, kWait, reset);
        EXPECT_TRUE(FollowsAt(box, next,
                              {kStarted, "Debug: Calling /etc/vigilerd/scripts/ntp status",
                               "Debug: Return value: 0", notSolved, kTerminated}))
            << box.Dump();
    }
    EXPECT_TRUE(box.Alive());
    EXPECT_TRUE(box.LogLinesWhole());
}

// The settings file full of junk: the interval still counts, the limits drowned in it are
// absent (and their alert comes at once), and checking goes on.
TEST_F(HostileInput, SettingsFile) {
    box.Place("/etc/vigilerd.conf",
              Junk(512, 17) + "\nCHECK_INTERVAL=1\r\nFREE_LIMIT_BBRAM=" + Digits(3000, '9') + "\n" +
                  "CRITICAL_LIMIT_BBRAM=5\0\n"s + "# " + std::string(2 * kMegabyte, 'c') + "\n" +
                  std::string(2 * kMegabyte, 'j') + "\nFREE_LIMIT_CONFIG=10\r\n" + Junk(512, 19) +
                  "\nCRITICAL_LIMIT_CONFIG=5");
    box.Start();
    int started = box.WaitForMessage("Info: started");
    EXPECT_TRUE(FollowsAt(box, started,
                          {"Info: started", "Error: failed to get the value from FREE_LIMIT_BBRAM",
                           "Error: failed to get the value from CRITICAL_LIMIT_BBRAM", kRcPass}))
        << box.Dump();
    // Both voice-mail limits absent: every share is critical, so the alert comes at once.
    EXPECT_GE(box.WaitForAlert("Software Watchdog: Warning: Running critically low on file "
                               "system space for voice mails. 100.0 percent left."),
              0)
        << box.Dump();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 3)) << box.Dump();
    EXPECT_EQ(box.AlertRecords().size(), 1u);
    EXPECT_TRUE(box.Alive());
    EXPECT_TRUE(box.LogLinesWhole());
}

// A directory in the place of the settings file or of rc.conf: the file cannot be read, and
// start-up ends asleep for good with its lines, alive.
TEST_F(HostileInput, SettingsFileIsADirectory) {
    box.Unplace("/etc/vigilerd.conf").PlaceDir("/etc/vigilerd.conf");
    box.Start();
    int started = box.WaitForMessage("Info: started");
    EXPECT_TRUE(
        FollowsAt(box, started,
                  {"Info: started", "Error: failed to open /etc/vigilerd.conf, going to sleep"}))
        << box.Dump();
    // Asleep for good: the log is closed, nothing more is ever written.
    std::string log = box.LogText();
    box.Signal(SIGALRM);
    box.Signal(SIGHUP);
    EXPECT_FALSE(WaitUntil([&] { return box.LogText() != log || !box.Alive(); }, seconds(2)));
    EXPECT_TRUE(box.Alive());
}

TEST_F(HostileInput, RcConfIsADirectory) {
    box.Unplace("/etc/sysconfig/rc.conf").PlaceDir("/etc/sysconfig/rc.conf");
    box.Start();
    int started = box.WaitForMessage("Info: started");
    EXPECT_TRUE(FollowsAt(box, started,
                          {"Info: started", "Error: failed to open /etc/sysconfig/rc.conf",
                           "Warning: Sleeping forever"}))
        << box.Dump();
    std::string log = box.LogText();
    box.Signal(SIGALRM);
    box.Signal(SIGHUP);
    EXPECT_FALSE(WaitUntil([&] { return box.LogText() != log || !box.Alive(); }, seconds(2)));
    EXPECT_TRUE(box.Alive());
    EXPECT_TRUE(box.Exists("/run/vigilerd.pid"));
}

}  // namespace
}  // namespace e2e
