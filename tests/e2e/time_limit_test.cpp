// Time limits of the real daemon's commands: hung status scripts, archivers and fail commands
// are ended and judged as 124, the rest of the pass runs; without the keys nothing is limited.
#include "scenario.h"

namespace e2e::scenario {

struct LimitCase {
    const char* name;
    const char* settings;  // added to the test box's settings
    std::vector<Lines> services;  // name, more [basic] lines, status script body
    const char* archiver;
    Lines inOrder;  // messages that must come, in this order
};

std::string TimedOut(const std::string& command) {
    return "Warning: cmd = " + command + " timed out after 1 seconds";
}

class TimeLimits : public BoxTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(TimeLimits, CommandsEndAtTheirLimitAndThePassGoesOn) {
    const LimitCase& c = GetParam();
    box.Prepare("printf '" + std::string(c.settings) + "' >>/etc/vigilerd.conf");
    std::string names;
    for (const Lines& s : c.services) {
        names += (names.empty() ? "" : "|") + s[0];
        box.Place("/etc/vigilerd/scripts/" + s[0], "#!/bin/sh\n" + s[2] + "\n", 0755);
        box.Place("/etc/vigilerd/" + s[0],
                  Service(s[0], "MAX_FAIL=1\n" + s[1] +
                                    "\n[failcmd1]\nFAIL_CMD=/etc/hang\n[failcmd124]\nFAIL_CMD=/bin/true\n"));
    }
    box.Place("/etc/sysconfig/rc.conf", RcConf(names));
    box.Place("/etc/hang", "#!/bin/sh\ntrap '' TERM\nsleep 600\n", 0755);
    box.Place("/usr/bin/mainlogszipperforvigiler", std::string("#!/bin/sh\n") + c.archiver + "\n",
              0755);
    box.Start();
    int at = 0;
    for (const std::string& message : c.inOrder) {
        at = box.WaitForMessage(message, seconds(20), at);
        ASSERT_GE(at, 0) << "missing, or out of order: " << message;
    }
    // The background child of the hung script ended with it (a zombie waits for its reaper).
    EXPECT_TRUE(WaitUntil([&] {
        return box.Exec("s=$(sed -n 's/^State:\t\\(.\\).*/\\1/p' /proc/$(cat /run/bg)/status); "
                        "[ -z \"$s\" ] || [ \"$s\" = Z ]").code == 0;
    }));
    EXPECT_TRUE(*c.settings != '\0' || box.LogText().find("timed out") == std::string::npos);
}

const std::string kHttpd = "/etc/vigilerd/scripts/httpd status";

INSTANTIATE_TEST_SUITE_P(
    InBox, TimeLimits,
    ::testing::Values(
        // A hung script with a background child; STATUS_TIMEOUT as the default that a row's
        // own TIMEOUT overrides; 124 judged like any other value.
        LimitCase{"HungStatusScripts", "STATUS_TIMEOUT=1\n",
                  {{"named", "", "sleep 4"}, {"ntpd", "TIMEOUT=8", "sleep 2"},
                   {"httpd", "TIMEOUT=1\nBAD_RET=124,", "sleep 600 & echo $! >/run/bg\nsleep 600"}},
                  "exit 0",
                  {Call("named", 0)[0], TimedOut("/etc/vigilerd/scripts/named status"),
                   "Debug: Return value: 124", Call("ntpd", 0)[0], "Debug: Return value: 0",
                   Call("httpd", 0)[0], TimedOut(kHttpd),
                   Call("httpd", 124, {kExec})[2], kExec + "/bin/true", kWorked, kTerminated}},
        // The archiver and a fail command that ignores SIGTERM, under COMMAND_TIMEOUT.
        LimitCase{"HungArchiverAndFailCommand", "COMMAND_TIMEOUT=1\n",
                  {{"httpd", "BAD_RET=1,", "exit 1"}}, "sleep 600",
                  {Call("httpd", 1, {kArchiveFirst})[2], kArchiveFirst,
                   TimedOut("/bin/mainlogszipperforvigiler"), kArchiveDone,
                   "Error: Executing the fail command /etc/hang", TimedOut("/etc/hang"),
                   "Error: Fail Command not successfully executed, got Errorcode = 124 ()",
                   kTerminated}},
        // Without the keys a long script runs to its end, as it always did.
        LimitCase{"NoLimits", "", {{"httpd", "TIMEOUT=x", "sleep 3"}}, "exit 0",
                  Call("httpd", 0)}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

}  // namespace e2e::scenario
