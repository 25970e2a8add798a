// vigilerctl in the box: check on the sample and on broken trees, the state file and status
// against the running daemon, and the mode commands seen in the daemon's log.
#include <cstdlib>
#include <regex>

#include "scenario.h"

namespace e2e::scenario {
constexpr const char* kState = "/var/run/vigilerd.state";

class Ctl : public BoxTest {
  protected:
    Ctl() { box.Install(VIGILERCTL_BIN, "/usr/sbin/vigilerctl"); }
    ExecResult Run(const std::string& args) { return box.Exec("vigilerctl " + args); }
    bool StateHas(const std::string& text) {
        return WaitUntil([&] { return box.Read(kState).find(text) != std::string::npos; });
    }
};

// A tree that checks clean; each case replaces files ("" removes one), runs `shell` in the
// tree, adds `args` and expects its findings in order, each as "file:line: kind: the start of
// its text".
const std::map<std::string, std::string> kClean = {
    {"etc/vigilerd.conf",
     "CHECK_INTERVAL=60\nFREE_LIMIT_BBRAM=10\nCRITICAL_LIMIT_BBRAM=5\nFREE_LIMIT_CONFIG=10\n"
     "CRITICAL_LIMIT_CONFIG=5\nSTATUS_TIMEOUT=5\nCOMMAND_TIMEOUT=0\nREBOOT_BUDGET=3\n"
     "REBOOT_BUDGET_HOURS=24\nLOG_LEVEL=info\nLOG_MAX_KB=64\nLOG_SYSLOG=1\n"},
    {"etc/sysconfig/rc.conf", "START_VIGILERD=true\nSTART_HTTPD=true\nSTART_PPP=false\n"},
    {"etc/vigilerd/httpd",
     "[basic]\nSCRIPT=/s/ok\nGOOD_RET=0,\nBAD_RET=1,124,\nMAX_FAIL=2\nFAILS_FOR_ESCALATION=4\n"
     "ESCALATION_CMD=reboot\nTIMEOUT=10\n[failcmd1]\nFAIL_CMD=/s/ok restart\n[failcmd124]\n"
     "FAIL_CMD=/s/ok\n"}};

struct CheckCase {
    std::map<std::string, std::string> files;
    std::string findings;  // one per line
    int code;
    std::string shell = "true", args = "";
};

const CheckCase kChecks[] = {
    {{}, "", 0},
    {{{"etc/vigilerd.conf", ""}}, "etc/vigilerd.conf: error: cannot be read", 2},
    {{{"etc/vigilerd.conf", "FREE_LIMIT_BBRAM=10\nCRITICAL_LIMIT_BBRAM=10\n"
                            "CRITICAL_LIMIT_CONFIG=5\nSTATUS_TIMEOUT=5s\nCHECK_INTERVALL=3\n"
                            "REBOOT_BUDGET_HOURS=3\n"}},
     "etc/vigilerd.conf: error: CHECK_INTERVAL is missing or not a number\n"
     "etc/vigilerd.conf: warning: FREE_LIMIT_CONFIG is missing or not a number\n"
     "etc/vigilerd.conf:2: warning: CRITICAL_LIMIT_BBRAM=10 is at or above FREE_LIMIT_BBRAM=10\n"
     "etc/vigilerd.conf:4: warning: STATUS_TIMEOUT=5s is not a number\n"
     "etc/vigilerd.conf:5: warning: unknown key CHECK_INTERVALL\n"
     "etc/vigilerd.conf:6: warning: REBOOT_BUDGET_HOURS without REBOOT_BUDGET: there is no reboot budget",
     2},
    {{{"etc/sysconfig/rc.conf", "START_VIGILERD=yes\nSTART_HTTPD=true\nSTART_NTP=true\n"
                                "START_PPP=TRUE\nSTART_FTPD=true\n"}},
     "etc/sysconfig/rc.conf:1: error: START_VIGILERD=yes is not \"true\"\n"
     "etc/sysconfig/rc.conf:4: warning: START_PPP=TRUE reads as off: only \"true\" switches ppp on\n"
     "etc/sysconfig/rc.conf:5: warning: START_FTPD names no service that vigilerd watches\n"
     "etc/vigilerd/ntp: error: cannot be read (No such file or directory): ntp is not monitored",
     2},
    {{{"etc/vigilerd/ppp", "SCRIPT=/s/ok\n"},
      {"etc/vigilerd/ntp", "[basic]\nSCRIPT=/s/gone\nMAX_FAIL=3 # three\n"},
      {"etc/vigilerd/named", "[basic]\nGOOD_RET=0,\nMAX_FAIL=1\n"},
      {"etc/vigilerd/stats", "[basic]\nSCRIPT=\nGOOD_RET=0,\nMAX_FAIL=1\n"}},
     "etc/vigilerd/named: error: SCRIPT is missing\n"
     "etc/vigilerd/ntp: error: GOOD_RET is missing\n"
     "etc/vigilerd/ntp:2: error: SCRIPT /s/gone does not exist\n"
     "etc/vigilerd/ntp:3: warning: MAX_FAIL=3 # three is not a number\n"
     "etc/vigilerd/ntp:3: error: MAX_FAIL is missing or not a number\n"
     "etc/vigilerd/ppp: error: has no [basic] section\n"
     "etc/vigilerd/stats:2: error: SCRIPT is empty: stats is not monitored",
     2},
    {{{"etc/vigilerd/httpd",
       "[basic]\nSCRIPT=/s/plain\nDEPENDS_ON=wanlan\nGOOD_RET=0\nBAD_RET=1,2,3,\nMAX_FAIL=3\n"
       "FAILS_FOR_ESCALATION=3\nESCALATION_CMD=/s/gone now\nTIMOUT=4\n[failcmd1]\n"
       "FAIL_CMD=/s/plain restart\n[failcmd2]\nFAIL_CMD_GOOD_RETURN=0\n[failcmd9]\n"
       "FAIL_CMD=/s/ok\n[other]\n"},
      {"etc/vigilerd/ntp", "[basic]\nSCRIPT=/s/ok\nDEPENDS_ON=variable X\nGOOD_RET=0,\n"
                           "MAX_FAIL=1\nFAILS_FOR_ESCALATION=5\n"},
      {"etc/vigilerd/ppp", "[basic]\nSCRIPT=/s/ok\nDEPENDS_ON=wanlink\nGOOD_RET=\nMAX_FAIL=1\n"},
      {"var/run/interfaces", "WAN=wan0\n"}},
     "etc/vigilerd/httpd: warning: [failcmd9] is named by no BAD_RET value\n"
     "etc/vigilerd/httpd: warning: unknown section [other]\n"
     "etc/vigilerd/httpd:2: warning: SCRIPT /s/plain is not executable\n"
     "etc/vigilerd/httpd:3: warning: unknown DEPENDS_ON form 'wanlan'\n"
     "etc/vigilerd/httpd:4: warning: GOOD_RET: '0' has no comma after it\n"
     "etc/vigilerd/httpd:5: warning: [failcmd2] has no FAIL_CMD\n"
     "etc/vigilerd/httpd:5: warning: BAD_RET value 3 has no [failcmd3] section\n"
     "etc/vigilerd/httpd:5: warning: STATUS_TIMEOUT=5 is in force but BAD_RET does not name 124\n"
     "etc/vigilerd/httpd:7: warning: FAILS_FOR_ESCALATION=3 is at or below MAX_FAIL=3\n"
     "etc/vigilerd/httpd:8: warning: ESCALATION_CMD /s/gone does not exist\n"
     "etc/vigilerd/httpd:9: warning: unknown key TIMOUT\n"
     "etc/vigilerd/httpd:11: warning: FAIL_CMD /s/plain is not executable\n"
     "etc/vigilerd/ntp:3: warning: DEPENDS_ON 'variable X' is not 'variable KEY VALUE'\n"
     "etc/vigilerd/ntp:6: warning: FAILS_FOR_ESCALATION without ESCALATION_CMD\n"
     "etc/vigilerd/ppp:3: warning: DEPENDS_ON wanlink never holds\n"
     "etc/vigilerd/ppp:4: warning: GOOD_RET holds no value",
     1},
    // Files that others could change, unless only their owner differs and --owner-any is given.
    {{}, "etc/vigilerd/httpd: error: is writable by its group, and vigilerd reads it as root\n"
         "s: error: is writable by others, and vigilerd runs /s/ok below it as root",
     2, "chmod g+w etc/vigilerd/httpd && chmod o+w s"},
    {{}, "bin/mainlogszipperforvigiler: error: is owned by uid 7, and vigilerd runs it as root",
     2, "chown 7 bin/mainlogszipperforvigiler"},
    {{}, "", 0, "chown -R 7 .", "--owner-any"},
    // Links resolve inside the tree as on the box, an absolute one too; loops and links out of
    // the tree are said as such. A FIFO is never opened (the run has its deadline).
    {{}, "", 0, "mv s/ok s/real && ln -s /s/real s/ok"},
    {{}, "etc/vigilerd/httpd:2: error: SCRIPT /s/ok is a link loop: httpd is not monitored\n"
         "etc/vigilerd/httpd:10: warning: FAIL_CMD /s/ok is a link loop\n"
         "etc/vigilerd/httpd:12: warning: FAIL_CMD /s/ok is a link loop",
     2, "ln -sf ok s/ok"},
    {{}, "s/ok: warning: a link on its way climbs above the root of the tree", 1,
     "mv s/ok s/real && ln -s ../../../../s/real s/ok"},
    {{}, "etc/vigilerd/ntp: error: is a FIFO, not a file: ntp is not monitored", 2,
     "mkfifo etc/vigilerd/ntp"},
    // The daemon's traps.
    {{{"etc/vigilerd/httpd",
       "[basic]\nSCRIPT=/s/ok\nGOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=1\nFAILS_FOR_ESCALATION=2\n"
       "ESCALATION_CMD=/s/Reboot -f\n[failcmd1]\nFAIL_CMD=\n"}},
     "etc/vigilerd/httpd:4: warning: STATUS_TIMEOUT=5 is in force but BAD_RET does not name 124\n"
     "etc/vigilerd/httpd:7: warning: ESCALATION_CMD /s/Reboot does not exist\n"
     "etc/vigilerd/httpd:7: warning: ESCALATION_CMD '/s/Reboot -f' is not exactly \"reboot\"\n"
     "etc/vigilerd/httpd:9: warning: [failcmd1] FAIL_CMD is empty",
     1},
    {{}, "bin/mainlogszipperforvigiler: warning: is not executable: no logs are archived", 1,
     "chmod -x bin/mainlogszipperforvigiler"},
    {{}, "etc/vigilerd/httpd~: warning: names no service and is never read", 1,
     "echo >etc/vigilerd/httpd~"},
    {{{"etc/vigilerd.conf", "\xef\xbb\xbf# limits\nCHECK_INTERVAL=60\nFREE_LIMIT_BBRAM=120\n"
                            "CRITICAL_LIMIT_BBRAM=-1\nFREE_LIMIT_CONFIG=10\n"
                            "CRITICAL_LIMIT_CONFIG=5\nCHECK_INTERVAL=30\nX\x1b=1\n"},
      {"etc/vigilerd/ntp", "[basic]\nSCRIPT=/s/ok\n[basic]\nGOOD_RET=0,\nMAX_FAIL=1\n"
                           "DEPENDS_ON=" + std::string(250, 'w') + "\n"}},
     "etc/vigilerd.conf:1: warning: starts with a byte-order mark (\\xef\\xbb\\xbf)\n"
     "etc/vigilerd.conf:2: warning: CHECK_INTERVAL is given again on line 7, which wins\n"
     "etc/vigilerd.conf:3: warning: FREE_LIMIT_BBRAM=120 is outside 0-100: every free share\n"
     "etc/vigilerd.conf:4: warning: CRITICAL_LIMIT_BBRAM=-1 is outside 0-100: no free share\n"
     "etc/vigilerd.conf:8: warning: unknown key X\\x1b (a misspelt key reads as missing)\n"
     "etc/vigilerd/ntp:3: warning: [basic] is given again: both read as one section\n"
     "etc/vigilerd/ntp:6: warning: unknown DEPENDS_ON form '" + std::string(200, 'w') +
         "\xe2\x80\xa6' (",
     1},
    {{{"etc/vigilerd.conf", kClean.at("etc/vigilerd.conf") + "WATCHDOG_DEVICE=/dev/watchdog\n"
                                                            "WATCHDOG_STALL=70\n"}},
     "etc/vigilerd.conf:13: warning: WATCHDOG_DEVICE /dev/watchdog does not exist\n"
     "etc/vigilerd.conf:14: warning: WATCHDOG_STALL=70 is not above CHECK_INTERVAL plus the "
     "longest status time limit (70 seconds)",
     1}};

TEST_F(Ctl, CheckFindsEveryKindAndSetsTheExitStatus) {
    // The sample configuration with the demo's stand-ins for the programs it names, checked on
    // the host by the command README gives: the source tree may lie where the box has a /tmp of
    // its own.
    EXPECT_EQ(system("cd " SOURCE_DIR " && rm -rf " TOOLS_DIR "/sample && mkdir " TOOLS_DIR
                     "/sample && cp -r scripts/demo-root/etc scripts/demo-root/usr etc " TOOLS_DIR
                     "/sample && ln -s usr/bin " TOOLS_DIR "/sample/bin && " VIGILERCTL_BIN
                     " check --owner-any --root " TOOLS_DIR "/sample"), 0);
    box.Start();
    EXPECT_EQ(Run("status --json --version").output, "vigilerctl 1.0.0\n");
    for (size_t n = 0; n < std::size(kChecks); ++n) {
        const CheckCase& c = kChecks[n];
        std::string root = "/tmp/t" + std::to_string(n) + "/";
        box.Write(root + "s/ok", "#!/bin/sh\n", 0755);
        box.Write(root + "bin/mainlogszipperforvigiler", "#!/bin/sh\n", 0755);
        box.Write(root + "s/plain", "#!/bin/sh\n");
        std::map<std::string, std::string> files = c.files;
        files.insert(kClean.begin(), kClean.end());  // the case's own files stay
        for (const auto& [path, text] : files)
            if (!text.empty())
                box.Write(root + path, text);
        ASSERT_EQ(box.Exec("cd " + root + " && " + c.shell).code, 0) << c.shell;
        ExecResult result = box.Exec("vigilerctl check " + c.args + " --root " + root, kWait);
        Lines got = Split(result.output, '\n'), want = Split(c.findings, '\n');
        EXPECT_EQ(result.code, c.code) << result.output;
        ASSERT_EQ(got.size(), want.size()) << result.output;
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i].substr(0, root.size() + want[i].size()), root + want[i]);
        ExecResult quiet = Run("check --quiet " + c.args + " --root " + root);
        EXPECT_EQ(quiet.output + std::to_string(quiet.code), std::to_string(c.code));
    }
    EXPECT_EQ(Run("check --json --root /tmp/t7").output,
              "[\n{\"file\":\"/tmp/t7/bin/mainlogszipperforvigiler\",\"line\":0,\"level\":"
              "\"error\",\"text\":\"is owned by uid 7, and vigilerd runs it as root\"}\n]\n");
    EXPECT_EQ(Run("check --json --root /tmp/t0").output, "[]\n");
    for (auto [args, said] : {std::pair{"check --root /tmp/none", "/tmp/none: error: cannot be "
                                                                  "checked (No such file or directory)\n"},
                              {"check --root", "vigilerctl: check: --root needs a value\n"},
                              {"status --max-age", "vigilerctl: status: --max-age needs a value\n"}})
        EXPECT_EQ(Run(args).output, said);
}

// The state file after a pass, status as a table and as JSON, its age limit, and a pid file
// that names another process; a state file that cannot be written is reported once.
TEST_F(Ctl, StateFileAndStatus) {
    box.Place("/etc/vigilerd/httpd",
              Service("httpd", "DEPENDS_ON=variable START_HTTPD true\nMAX_FAIL=3\n"
                               "FAILS_FOR_ESCALATION=7\nESCALATION_CMD=reboot\n"));
    box.Place("/etc/vigilerd/ntp", Service("ntp", "DEPENDS_ON=variable START_NTP no\nMAX_FAIL=2\n"));
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1));
    std::string pid = std::to_string(box.Pid()), state = box.Read(kState);
    const std::string t = "=[1-9][0-9]*\n";  // a time
    EXPECT_TRUE(std::regex_search(
        state, std::regex("^\\[vigilerd\\]\nPID=" + pid + "\nMODE=running\nINTERVAL=1\nSTARTED" + t +
                          "PASS_START" + t + "PASS_END" + t + "WRITTEN" + t + "REASON=\nSINCE=0\nWAIT_END=0\n\n\\[ppp\\]\nENABLED=0\n"
                          "[\\s\\S]*\\[ntp\\]\nENABLED=1\nLAST_RETURN=-1\nCURRENT_FAILS=0\nMAX_FAIL=2\n"
                          "FAILS_FOR_ESCALATION=-1\nLAST_CHECK" + t + "DEPENDENCY_HELD=0\n\n\\[httpd\\]\n"
                          "ENABLED=1\nLAST_RETURN=0\nCURRENT_FAILS=0\nMAX_FAIL=3\nFAILS_FOR_ESCALATION=7\n"
                          "LAST_CHECK" + t + "DEPENDENCY_HELD=1\n")))
        << state;
    EXPECT_EQ(Split(Run("status --max-age 60").output, '\n')[0],
              "vigilerd pid " + pid + ": running, interval 1 s");
    EXPECT_TRUE(std::regex_match(
        Run("status --json").output,
        std::regex("\\{\"pid\":" + pid + ",\"mode\":\"running\",\"interval\":1,\"started\":[0-9]+,"
                   "\"passStart\":[0-9]+,\"passEnd\":[0-9]+,\"written\":[0-9]+,\"reason\":null,\"since\":0,"
                   "\"waitEnd\":0,\"markerOwner\":null,\"services\":\\[\\{"
                   "\"name\":\"ppp\",\"enabled\":false,.*\\{\"name\":\"httpd\",\"enabled\":true,"
                   "\"lastReturn\":0,\"currentFails\":0,\"maxFail\":3,\"failsForEscalation\":7,"
                   "\"lastCheck\":[1-9][0-9]*,\"dependencyHeld\":true\\},.*\\]\\}\n")));
    box.Write("/var/run/vigilerd.pid", "1\n");
    EXPECT_EQ(Run("status").output,
              "vigilerctl: vigilerd is not running: pid 1 of /var/run/vigilerd.pid is not vigilerd\n");
    EXPECT_EQ(Run("pause").code, 4);
    ASSERT_EQ(box.Exec("rm /var/run/vigilerd.state; mkdir /var/run/vigilerd.state.tmp").code, 0);
    int passes = box.Count(kTerminated);
    ASSERT_TRUE(box.WaitForCount(kTerminated, passes + 3, seconds(30)));
    EXPECT_EQ(box.Count("Warning: could not write /var/run/vigilerd.state (21 = Is a directory)"), 1);
}

// Shell text run in the box against a daemon that has started, and its whole output with the
// daemon's pid as PID, times as T and numbers of seconds as N.
struct EdgeCase {
    const char* name;
    const char* interval;  // CHECK_INTERVAL
    const char* script;
    const char* output;
};

class Edges : public Ctl, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(Edges, ToolAndDaemon) {
    const EdgeCase& c = GetParam();
    box.Prepare(std::string("sed -i s/INTERVAL=1/INTERVAL=") + c.interval + "/ /etc/vigilerd.conf")
        .Start();
    ASSERT_TRUE(StateHas("MODE=running"));
    std::string out = box.Exec(std::string("s=/var/run/vigilerd.state\n") + c.script).output;
    for (const auto& [from, to] : {std::pair<std::string, const char*>{std::to_string(box.Pid()), "PID"},
                                   {"[0-9-]{10} [0-9:]{8}", "T"}, {"[0-9]+ s\\b", "N s"}})
        out = std::regex_replace(out, std::regex("\\b" + from), to);
    EXPECT_EQ(out, c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Box, Edges,
    ::testing::Values(
        // One instance: a second start touches no file; arguments are refused before any.
        // check reads FIFOs as unreadable files instead of waiting for a writer.
        EdgeCase{"SecondStart", "0",
                 "f=\"/var/run/vigilerd.pid $s /var/log/vigilerd.log\"; a=$(cat $f | md5sum)\n"
                 "for arg in --version --help -x ''; do timeout -s KILL 5 vigilerd $arg; echo $?; done\n"
                 "[ \"$(cat $f | md5sum)\" = \"$a\" ] && vigilerctl status >/dev/null && echo same\n"
                 "mkdir -p /tmp/r/etc/sysconfig; mkfifo /tmp/r/etc/vigilerd.conf /tmp/r/etc/sysconfig/"
                 "rc.conf; timeout 10 vigilerctl check --root /tmp/r >/dev/null; echo $?",
                 "vigilerd 1.0.0\n0\nusage: vigilerd [--version | --help]\n0\nusage: vigilerd "
                 "[--version | --help]\n64\nvigilerd: already running as pid PID\n1\nsame\n2\n"},
        // Hibernation refuses the ticks, and the pause with it; waking up reads rc.conf at
        // once, then checks. The pause, then stop.
        EdgeCase{"Modes", "1",
                 "l=/var/log/vigilerd.log; log() { sed -n \"/$1/,\\$p\" $l | sed 's/^[^]]*] //'; }\n"
                 "vigilerctl hibernate; until grep -q 'but hibernate mode' $l; do sleep 0.1; done\n"
                 "vigilerctl pause; echo $?; vigilerctl resume; until log reset | grep -q Thread; do "
                 "sleep 0.1; done; log 'but hibernate' | sed '/reset/q' | grep -c 'Stati started'\n"
                 "log reset | head -2; vigilerctl pause; until grep -q MODE=waiting $s; do sleep 0.1; "
                 "done\nvigilerctl stop >/dev/null; until grep -q REASON=stopped $s; do sleep 0.1; done; "
                 "tail -1 $l | sed 's/^[^]]*] //'",
                 "vigilerd (pid PID) hibernates until vigilerctl resume\nvigilerctl: /tmp/hibernateMode "
                 "exists, so SIGHUP would hibernate; use resume or remove it\n1\nvigilerd (pid PID) "
                 "resumes checking\n0\nInfo: Hibernate mode has been reset\nInfo: (Re)reading "
                 "rc.conf.\nvigilerd (pid PID) pauses checking for 40 seconds\nInfo: got sleep signal. "
                 "Ignoring all signals and going to sleep\n"},
        // Asleep after SIGTERM, without its pid file: found, and every command refused.
        EdgeCase{"Stopped", "1",
                 "kill -TERM $(cat /var/run/vigilerd.pid)\n"
                 "until grep -q REASON=stopped $s; do sleep 0.1; done\n"
                 "for c in pause hibernate resume; do vigilerctl $c 2>/dev/null; echo \"$c $?\"; done\n"
                 "[ -e /tmp/hibernateMode ] || echo no marker\n"
                 "vigilerctl stop; vigilerctl status >/tmp/out; echo $?; sed -n 2p /tmp/out",
                 "pause 5\nhibernate 5\nresume 5\nno marker\nvigilerctl: vigilerd (pid PID) sleeps "
                 "for good (stopped) and ignores every signal; it must be killed (kill -KILL PID) "
                 "and started again\nvigilerctl: vigilerd (pid PID) sleeps for good (stopped); it "
                 "checks nothing until it is killed and started again\n5\nasleep for good since T "
                 "(stopped)\n"},
        // resume sends nothing to a daemon that does not hibernate; hibernation and the wait
        // show since when, and --max-pause limits them.
        EdgeCase{"Pauses", "1",
                 "vigilerctl resume; vigilerctl pause >/dev/null\n"
                 "until grep -q MODE=waiting $s; do sleep 0.1; done\n"
                 "touch /tmp/hibernateMode; vigilerctl resume; [ -e /tmp/hibernateMode ] || echo gone\n"
                 "ln -s /tmp/none /tmp/hibernateMode; vigilerctl hibernate; echo $?; rm /tmp/hibernateMode\n"
                 "vigilerctl hibernate >/dev/null; chown nobody /tmp/hibernateMode\n"
                 "until grep -q MODE=hibernating $s; do sleep 0.1; done; vigilerctl status | head -4\n"
                 "while vigilerctl status --max-pause 0 >/dev/null 2>&1; do sleep 0.2; done\n"
                 "vigilerctl status --max-pause 0 >/dev/null; echo $?; grep -c 'Wait mode' /var/log/vigilerd.log",
                 "vigilerd (pid PID) is not hibernating, nothing sent\nremoved /tmp/hibernateMode\n"
                 "vigilerd (pid PID) is not hibernating, nothing sent; it resumes checking after its "
                 "wait, at about T (in N s)\ngone\nvigilerctl: cannot create /tmp/hibernateMode: No "
                 "such file or directory\n1\nvigilerd pid PID: hibernating, interval N s\npaused "
                 "since T\nwaiting until about T\n/tmp/hibernateMode exists, owner nobody\n"
                 "vigilerctl: vigilerd has been hibernating for N s (limit N s)\n3\n1\n"},
        // The limits' exact boundaries: 5 s is not more than 5 s.
        EdgeCase{"Limits", "0",
                 "lim() { t=$(date +%s); sed -i \"s/^MODE=.*/MODE=$1/;s/^$2=.*/$2=$((t - 5))/\" $s\n"
                 "  r=$1; for n in 5 4; do vigilerctl status --max-$3 $n >/dev/null 2>&1; r=\"$r $?\"; done\n"
                 "  [ \"$(date +%s)\" = \"$t\" ] && echo \"$r\"; }\n"
                 "until lim running PASS_END age; do :; done; until lim hibernating SINCE pause; do :; done",
                 "running 0 3\nhibernating 0 3\n"}),
    [](const ::testing::TestParamInfo<EdgeCase>& info) { return info.param.name; });

}  // namespace e2e::scenario
