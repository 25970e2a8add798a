// The thirteen service files read by the real daemon: every kind of error, the file syntax
// (quotes, CRLF, NUL bytes, repeated keys), the return-value lists and their sections.
#include <signal.h>

#include "scenario.h"

namespace e2e::scenario {
using namespace std::string_literals;

TEST_F(BoxTest, ThirteenServiceFiles) {
    box.Place("/etc/sysconfig/rc.conf",
              RcConf("ppp|dhclient|ipsec|dhcpd_lan|named|ntpd|ntp|httpd|ipsecd|tftpd",
                     "START_VOICE=false\nSTART_VPND=no\n"));
    box.Prepare("rm /etc/vigilerd/ppp /etc/vigilerd/ipsecd && mkdir /etc/vigilerd/ipsecd");
    box.Place("/etc/vigilerd/dhclient",
              "SCRIPT=/etc/vigilerd/scripts/named\nGOOD_RET=0,\nMAX_FAIL=1\n[ basic ]\n");
    box.Place("/etc/vigilerd/ipsec",
              "[basic]\nscript=/etc/vigilerd/scripts/named\nGOOD_RET=0,\nMAX_FAIL=1\n");
    box.Place("/etc/vigilerd/dhcpd_lan",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/gone\nGOOD_RET=0,\nMAX_FAIL=1\n");
    box.Place("/etc/vigilerd/named",
              "[basic]\r\nSCRIPT=/etc/vigilerd/scripts/named\r\nGOOD_RET=0,\r\nMAX_FAIL=1\r\n");
    box.Place("/etc/vigilerd/ntpd",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/ntpd\nGOODRET=0,\nMAX_FAIL=1\n");
    box.Place("/etc/vigilerd/ntp",
              Service("ntp", "BAD_RET=1,\n[failcmd1]\nFAIL_CMD=true\nMAX_FAIL=1\n"));
    // The last GOOD_RET counts and a line with a NUL byte is no line; the token 010 is ten and
    // names its section as written; one token is too long, another has no section.
    box.Place("/etc/vigilerd/httpd",
              "[basic]\nSCRIPT='/etc/vigilerd/scripts/httpd'\nGOOD_RET=\"0,3,\"\nGOOD_RET= 0, 5,\n"
              "GOOD_RET=1,\0,\nBAD_RET=1,010,2,"s +
                  std::string(105, '7') + ",\nMAX_FAIL=1\n[failcmd1]\nFAIL_CMD=" + kAct +
                  " repair=1 0\n[failcmd010]\nFAIL_CMD=" + kAct +
                  " ten 3\nFAIL_CMD_GOOD_RETURN=3\n");
    box.Place("/etc/vigilerd/voice", Service("voice", "FAILS_FOR_ESCALATION=3\nMAX_FAIL=1\n"));
    box.Place("/etc/vigilerd/tftpd",
              Service("tftpd", "FAILS_FOR_ESCALATION=2147483647\nMAX_FAIL=1\n"));
    ScriptStatus(box, "httpd", "5|10|1|3");
    box.Start();
    Lines startUp = Split(
        "Info: started|Info: (Re)reading rc.conf.|voice, vpnd not monitored. Disabled by "
        "rc.conf.|Error: Configuration file /etc/vigilerd/ppp not found.|Error: Config file "
        "error (/etc/vigilerd/dhclient): Section basic not found|Error: Config file error "
        "(/etc/vigilerd/ipsec): Section key SCRIPT not found|Error: Config file error "
        "(/etc/vigilerd/dhcpd_lan): Script /etc/vigilerd/scripts/gone not found|Error: Config "
        "file error (/etc/vigilerd/ntpd): Section key GOOD_RET not found|Error: Config file error "
        "(/etc/vigilerd/ntp): Section key MAX_FAIL not found|Error: Could not find the Section "
        "failcmd2 in /etc/vigilerd/httpd|Error: Config file error (/etc/vigilerd/httpd): BAD_RET "
        "entry too long, ignored|Warning: Config file error (/etc/vigilerd/voice): "
        "FAILS_FOR_ESCALATION without ESCALATION_CMD, never escalating|Error: Catched exception: "
        "cannot read /etc/vigilerd/ipsecd: Is a directory");
    auto pass = [](const Lines& httpd) {
        return Pass({Call("named", 0),
                     httpd,
                     {"Error: Service ipsecd has no status script, skipped"},
                     Call("tftpd", 0)});
    };
    auto repaired = [](const std::string& command) {
        return Counted("httpd", 1, 1, {kExec + kAct + command, kWorked});
    };
    std::vector<Lines> passes = WaitForPasses(box, 4);
    Lines log = box.Messages();
    log.resize(startUp.size());
    EXPECT_EQ(log, startUp);
    EXPECT_EQ(
        passes,
        (std::vector<Lines>{
            pass(Call("httpd", 5)), pass(Call("httpd", 10, repaired(" ten 3"))),
            pass(Call("httpd", 1, repaired(" repair=1 0"))),
            pass(
                Call("httpd", 3,
                     {"Error: ***WARNING*** unknown returnvalue 3 for ConfigConfiguration[7]"}))}));
}

}  // namespace e2e::scenario
