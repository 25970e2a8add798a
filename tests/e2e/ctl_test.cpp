// End-to-end tests of vigilerctl in the box: check on the sample and on broken trees, status
// against the running daemon, the mode commands, and the state file the daemon writes.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "box.h"

namespace e2e {
namespace {

constexpr const char* kCtl = "/usr/sbin/vigilerctl";
constexpr const char* kState = "/var/run/vigilerd.state";
constexpr const char* kPassEnd = "Debug: Thread CheckAllStati terminated";

class Ctl : public BoxTest {
  protected:
    Ctl() { box.Install(VIGILERCTL_BIN, kCtl); }
    ExecResult Run(const std::string& args) { return box.Exec(std::string(kCtl) + " " + args); }
    // Waits until the state file holds `line`.
    bool StateHas(const std::string& line) {
        return WaitUntil([&] {
            return box.Exists(kState) && box.Read(kState).find(line + "\n") != std::string::npos;
        });
    }
};

TEST_F(Ctl, SampleConfigurationChecksClean) {
    box.Start();
    // The sample tree with the demo's stand-ins for the init scripts it names.
    ASSERT_EQ(box.Exec("mkdir /tmp/sample && cp -r " SOURCE_DIR "/scripts/demo-root/etc " SOURCE_DIR
                       "/etc /tmp/sample/")
                  .code,
              0);
    ExecResult result = Run("check --root /tmp/sample");
    EXPECT_EQ(result.code, 0) << result.output;
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(Run("--version").output, "vigilerctl 1.0.0\n");
    EXPECT_EQ(Run("status --json --version").output, "vigilerctl 1.0.0\n");
}

// A tree that checks clean; each case changes or adds files and expects its findings exactly.
const std::map<std::string, std::string> kCleanTree = {
    {"etc/vigilerd.conf",
     "CHECK_INTERVAL=60\nFREE_LIMIT_BBRAM=10\nCRITICAL_LIMIT_BBRAM=5\nFREE_LIMIT_CONFIG=10\n"
     "CRITICAL_LIMIT_CONFIG=5\nSTATUS_TIMEOUT=5\nCOMMAND_TIMEOUT=0\n"},
    {"etc/sysconfig/rc.conf", "START_VIGILERD=true\nSTART_HTTPD=true\nSTART_PPP=false\n"},
    {"etc/vigilerd/httpd",
     "[basic]\nSCRIPT=/s/ok\nGOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=2\nFAILS_FOR_ESCALATION=4\n"
     "ESCALATION_CMD=reboot\nTIMEOUT=10\n[failcmd1]\nFAIL_CMD=/s/ok restart\n"},
};

struct CheckCase {
    const char* name;
    std::map<std::string, std::string> files;  // "" removes the file
    std::vector<std::string> findings;         // after "<root>/", in order
    int code;
};

const CheckCase kCheckCases[] = {
    {"clean", {}, {}, 0},
    {"settings missing",
     {{"etc/vigilerd.conf", ""}},
     {"etc/vigilerd.conf: error: cannot be read: the daemon would sleep for good"},
     2},
    {"settings",
     {{"etc/vigilerd.conf",
       "FREE_LIMIT_BBRAM=10\nCRITICAL_LIMIT_BBRAM=10\nCRITICAL_LIMIT_CONFIG=5\n"
       "STATUS_TIMEOUT=5s\nCHECK_INTERVALL=3\n"}},
     {"etc/vigilerd.conf:4: warning: STATUS_TIMEOUT=5s is not a number and reads as if it were "
      "missing",
      "etc/vigilerd.conf:5: warning: unknown key CHECK_INTERVALL (a misspelt key reads as missing)",
      "etc/vigilerd.conf: error: CHECK_INTERVAL is missing or not a number: the daemon would "
      "check nothing",
      "etc/vigilerd.conf:2: warning: CRITICAL_LIMIT_BBRAM=10 is at or above FREE_LIMIT_BBRAM=10: "
      "the low-space alert for /mnt/bbram is never raised",
      "etc/vigilerd.conf: warning: FREE_LIMIT_CONFIG is missing or not a number: every free "
      "share of /mnt/flashfs lies below it, so its alert stands for good"},
     2},
    {"rc.conf",
     {{"etc/sysconfig/rc.conf", "START_VIGILERD=yes\nSTART_HTTPD=true\nSTART_NTP=true\n"}},
     {"etc/sysconfig/rc.conf:1: error: START_VIGILERD=yes is not \"true\": the daemon would "
      "sleep for good",
      "etc/vigilerd/ntp: warning: ntp is switched on in rc.conf but has no service file"},
     2},
    {"service errors",
     {{"etc/vigilerd/ppp", "SCRIPT=/s/ok\n"},
      {"etc/vigilerd/ntp", "[basic]\nSCRIPT=/s/gone\nMAX_FAIL=3 # three\n"},
      {"etc/vigilerd/named", "[basic]\nGOOD_RET=0,\nMAX_FAIL=1\n"}},
     {"etc/vigilerd/ppp: error: has no [basic] section: ppp is not monitored",
      "etc/vigilerd/named: error: SCRIPT is missing: named is not monitored",
      "etc/vigilerd/ntp:3: warning: MAX_FAIL=3 # three is not a number and reads as if it were "
      "missing",
      "etc/vigilerd/ntp:2: error: SCRIPT /s/gone does not exist: ntp is not monitored",
      "etc/vigilerd/ntp: error: GOOD_RET is missing: ntp is not monitored",
      "etc/vigilerd/ntp:3: error: MAX_FAIL is missing or not a number: ntp is not monitored"},
     2},
    {"service warnings",
     {{"etc/vigilerd/httpd",
       "[basic]\nSCRIPT=/s/plain\nDEPENDS_ON=wanlan\nGOOD_RET=0\nBAD_RET=1,2,3,\nMAX_FAIL=3\n"
       "FAILS_FOR_ESCALATION=3\nESCALATION_CMD=/s/gone now\nTIMOUT=4\n[failcmd1]\n"
       "FAIL_CMD=/s/plain restart\n[failcmd2]\nFAIL_CMD_GOOD_RETURN=0\n[failcmd9]\n"
       "FAIL_CMD=/s/ok\n[other]\n"},
      {"etc/vigilerd/ntp",
       "[basic]\nSCRIPT=/s/ok\nDEPENDS_ON=variable X\nGOOD_RET=0,\nMAX_FAIL=1\n"
       "FAILS_FOR_ESCALATION=5\n"},
      {"etc/vigilerd/ppp", "[basic]\nSCRIPT=/s/ok\nDEPENDS_ON=wanlink\nGOOD_RET=\nMAX_FAIL=1\n"},
      {"var/run/interfaces", "WAN=wan0\n"}},
     {"etc/vigilerd/ppp:3: warning: DEPENDS_ON wanlink never holds: the interface state file "
      "names no VIRT_WAN",
      "etc/vigilerd/ppp:4: warning: GOOD_RET holds no value: every status counts as a failure",
      "etc/vigilerd/ntp:3: warning: DEPENDS_ON 'variable X' is not 'variable KEY VALUE' (each at "
      "most 49 characters): it never holds",
      "etc/vigilerd/ntp:6: warning: FAILS_FOR_ESCALATION without ESCALATION_CMD: never escalates",
      "etc/vigilerd/httpd:9: warning: unknown key TIMOUT (a misspelt key reads as missing)",
      "etc/vigilerd/httpd:2: warning: SCRIPT /s/plain is not executable: every check fails",
      "etc/vigilerd/httpd:3: warning: unknown DEPENDS_ON form 'wanlan' (wanlink, wlanlink or "
      "variable KEY VALUE): httpd is never checked",
      "etc/vigilerd/httpd:4: warning: GOOD_RET: '0' has no comma after it and is not read (write "
      "'0,')",
      "etc/vigilerd/httpd:11: warning: FAIL_CMD /s/plain is not executable",
      "etc/vigilerd/httpd:5: warning: [failcmd2] has no FAIL_CMD: BAD_RET value 2 is left out",
      "etc/vigilerd/httpd:5: warning: BAD_RET value 3 has no [failcmd3] section and is left out",
      "etc/vigilerd/httpd:7: warning: FAILS_FOR_ESCALATION=3 is at or below MAX_FAIL=3: the fail "
      "command never runs",
      "etc/vigilerd/httpd:8: warning: ESCALATION_CMD /s/gone does not exist",
      "etc/vigilerd/httpd: warning: [failcmd9] is named by no BAD_RET value and never used",
      "etc/vigilerd/httpd: warning: unknown section [other]"},
     1},
};

TEST_F(Ctl, CheckFindsEveryKindAndSetsTheExitStatus) {
    box.Start();
    int number = 0;
    for (const CheckCase& test : kCheckCases) {
        SCOPED_TRACE(test.name);
        std::string root = "/tmp/tree" + std::to_string(++number) + "/";
        box.Write(root + "s/ok", "#!/bin/sh\nexit 0\n", 0755);
        box.Write(root + "s/plain", "#!/bin/sh\nexit 0\n");
        std::map<std::string, std::string> files = kCleanTree;
        for (const auto& file : test.files) {
            files[file.first] = file.second;
        }
        for (const auto& file : files) {
            if (!file.second.empty()) {
                box.Write(root + file.first, file.second);
            }
        }
        std::string expected;
        for (const std::string& finding : test.findings) {
            expected += root + finding + "\n";
        }
        ExecResult result = Run("check --root " + root);
        EXPECT_EQ(result.output, expected);
        EXPECT_EQ(result.code, test.code);
        ExecResult quiet = Run("check --quiet --root " + root);
        EXPECT_EQ(quiet.output, "");
        EXPECT_EQ(quiet.code, test.code);
    }
}

TEST_F(Ctl, StateFileAfterAPass) {
    box.Place("/etc/vigilerd/httpd",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/httpd\nDEPENDS_ON=variable START_HTTPD true\n"
              "GOOD_RET=0,\nMAX_FAIL=3\nFAILS_FOR_ESCALATION=7\nESCALATION_CMD=reboot\n");
    box.Place("/etc/vigilerd/ntp",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/ntp\nDEPENDS_ON=variable START_NTP no\n"
              "GOOD_RET=0,\nMAX_FAIL=2\n");
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kPassEnd, 2)) << box.Dump();
    std::string state = box.Read(kState);
    const std::string pass = "PASS_START=([0-9]+)\nPASS_END=([0-9]+)\n";
    std::smatch times;
    ASSERT_TRUE(std::regex_search(state, times, std::regex(pass))) << state;
    EXPECT_LE(std::stoll(times[1]), std::stoll(times[2]));
    const std::vector<std::string> blocks = {
        "^\\[vigilerd\\]\nPID=" + std::to_string(box.Pid()) +
            "\nMODE=running\nINTERVAL=1\nSTARTED=[1-9][0-9]*\n" + pass + "WRITTEN=[1-9][0-9]*\n\n",
        "\n\\[ppp\\]\nENABLED=0\nLAST_RETURN=-1\nCURRENT_FAILS=0\nMAX_FAIL=3\n"
        "FAILS_FOR_ESCALATION=-1\nLAST_CHECK=0\nDEPENDENCY_HELD=-1\n",
        "\n\\[ntp\\]\nENABLED=1\nLAST_RETURN=-1\nCURRENT_FAILS=0\nMAX_FAIL=2\n"
        "FAILS_FOR_ESCALATION=-1\nLAST_CHECK=[1-9][0-9]*\nDEPENDENCY_HELD=0\n",
        "\n\\[httpd\\]\nENABLED=1\nLAST_RETURN=0\nCURRENT_FAILS=0\nMAX_FAIL=3\n"
        "FAILS_FOR_ESCALATION=7\nLAST_CHECK=[1-9][0-9]*\nDEPENDENCY_HELD=1\n",
        "\n\\[tftpd\\]\nENABLED=0\n[^[]*DEPENDENCY_HELD=-1\n$"};
    for (const std::string& block : blocks) {
        EXPECT_TRUE(std::regex_search(state, std::regex(block))) << block << "\nin:\n" << state;
    }
    EXPECT_FALSE(box.Exists("/var/run/vigilerd.state.tmp"));

    // A state file that cannot be written is reported once and stops no pass.
    ASSERT_EQ(box.Exec("rm /var/run/vigilerd.state; mkdir /var/run/vigilerd.state.tmp").code, 0);
    int passes = box.Count(kPassEnd);
    ASSERT_TRUE(box.WaitForCount(kPassEnd, passes + 3)) << box.Dump();
    EXPECT_EQ(box.Count("Warning: could not write /var/run/vigilerd.state (21 = Is a directory)"),
              1)
        << box.Dump();
}

TEST_F(Ctl, StatusAndMaxAge) {
    // The web server's status takes long, so the second pass stays open.
    box.Place("/etc/vigilerd/scripts/httpd", "#!/bin/sh\n[ -e /tmp/slow ] && sleep 60\nexit 0\n",
              0755);
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kPassEnd, 1)) << box.Dump();
    std::string pid = std::to_string(box.Pid());
    ExecResult table = Run("status --max-age 60");
    EXPECT_EQ(table.code, 0) << table.output;
    EXPECT_EQ(table.output.substr(0, table.output.find('\n')),
              "vigilerd pid " + pid + ": running, interval 1 s");
    EXPECT_TRUE(std::regex_search(table.output,
                                  std::regex("\nhttpd +yes +0 +0 +3 +-1  [0-9-]+ [0-9:]+  -\n")))
        << table.output;
    ExecResult json = Run("status --json");
    EXPECT_EQ(json.code, 0);
    EXPECT_TRUE(std::regex_match(
        json.output,
        std::regex("\\{\"pid\":" + pid +
                   ",\"mode\":\"running\",\"interval\":1,"
                   "\"started\":[0-9]+,\"passStart\":[0-9]+,\"passEnd\":[0-9]+,\"written\":[0-9]+,"
                   "\"services\":\\[\\{\"name\":\"ppp\",\"enabled\":false,.*"
                   "\\{\"name\":\"httpd\",\"enabled\":true,\"lastReturn\":0,\"currentFails\":0,"
                   "\"maxFail\":3,\"failsForEscalation\":-1,\"lastCheck\":[1-9][0-9]*,"
                   "\"dependencyHeld\":null\\},.*\\]\\}\n")))
        << json.output;

    int from = static_cast<int>(box.Messages().size());
    box.Write("/tmp/slow", "");
    ASSERT_GE(box.WaitForMessage("Debug: Calling /etc/vigilerd/scripts/httpd status",
                                 std::chrono::milliseconds(10000), from),
              0);
    EXPECT_TRUE(WaitUntil([&] { return Run("status --max-age 2").code == 3; }));
    EXPECT_EQ(Run("status --max-age 3600").code, 0);

    // A pid file that names another process is no daemon.
    box.Write("/var/run/vigilerd.pid", "1\n");
    ExecResult other = Run("status");
    EXPECT_EQ(other.code, 4);
    EXPECT_EQ(
        other.output,
        "vigilerctl: vigilerd is not running: pid 1 of /var/run/vigilerd.pid is not vigilerd\n");
    EXPECT_EQ(Run("pause").code, 4);
    EXPECT_TRUE(box.Alive());
}

TEST_F(Ctl, ModeCommandsReachTheDaemon) {
    box.Start();
    ASSERT_TRUE(StateHas("MODE=running")) << box.Dump();
    struct ModeCase {
        const char* command;
        int code;
        const char* logged;  // nullptr: nothing is sent
        const char* mode;
    };
    const std::string pid = std::to_string(box.Pid());
    const ModeCase cases[] = {
        {"hibernate", 0, "Info: Hibernate mode has been set", "hibernating"},
        {"pause", 1, nullptr, "hibernating"},  // the marker would turn it into hibernation
        {"resume", 0, "Info: Hibernate mode has been reset", "running"},
        {"pause", 0, "Info: Wait mode has been set (40 seconds)", "waiting"},
        {"stop", 0, "Info: got sleep signal. Ignoring all signals and going to sleep", "asleep"},
    };
    for (const ModeCase& test : cases) {
        SCOPED_TRACE(test.command);
        int before = test.logged == nullptr ? 0 : box.Count(test.logged);
        ExecResult result = Run(test.command);
        EXPECT_EQ(result.code, test.code) << result.output;
        if (test.logged != nullptr) {
            EXPECT_TRUE(box.WaitForCount(test.logged, before + 1)) << box.Dump();
        }
        EXPECT_TRUE(StateHas(std::string("MODE=") + test.mode)) << box.Read(kState);
        EXPECT_EQ(box.Exists("/tmp/hibernateMode"), test.mode == std::string("hibernating"));
    }
    EXPECT_EQ(Run("stop").output,
              "vigilerctl: vigilerd is not running: no pid file /var/run/vigilerd.pid\n");
    EXPECT_EQ(Run("status").code, 4);
    EXPECT_TRUE(box.Alive());
}

}  // namespace
}  // namespace e2e
