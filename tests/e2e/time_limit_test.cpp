// Time limits of the real daemon's commands: hung status scripts, archivers and fail commands
// are ended and judged as 124, the rest of the pass runs; without the keys nothing is limited.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "box.h"

namespace e2e {
namespace {

struct Service {
    const char* name;
    const char* basicExtra;  // more [basic] lines
    const char* status;      // body of its status script
};

struct LimitCase {
    const char* name;
    const char* settingsExtra;
    std::vector<Service> services;
    const char* archiver;  // body of the archiver
    std::vector<std::string> inOrder;  // messages that must come, in this order
};

void PrintTo(const LimitCase& c, std::ostream* out) {
    *out << c.name;
}

const char* kSettings =
    "CHECK_INTERVAL=1\nFREE_LIMIT_BBRAM=10\nCRITICAL_LIMIT_BBRAM=5\nFREE_LIMIT_CONFIG=10\n"
    "CRITICAL_LIMIT_CONFIG=5\n";

std::string Calling(const std::string& name) {
    return "Debug: Calling /etc/vigilerd/scripts/" + name + " status";
}
std::string TimedOut(const std::string& command) {
    return "Warning: cmd = " + command + " timed out after 1 seconds";
}

class TimeLimits : public BoxTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(TimeLimits, CommandsEndAtTheirLimitAndThePassGoesOn) {
    const LimitCase& c = GetParam();
    box.Place("/etc/vigilerd.conf", std::string(kSettings) + c.settingsExtra);
    std::string rc = "START_VIGILERD=true\n";
    for (const Service& s : c.services) {
        std::string upper = s.name;
        for (char& ch : upper) ch = static_cast<char>(toupper(ch));
        rc += "START_" + upper + "=true\n";
        box.Place(std::string("/etc/vigilerd/scripts/") + s.name,
                  std::string("#!/bin/sh\n") + s.status + "\n", 0755);
        box.Place(std::string("/etc/vigilerd/") + s.name,
                  std::string("[basic]\nSCRIPT=/etc/vigilerd/scripts/") + s.name +
                      "\nGOOD_RET=0,\nMAX_FAIL=1\n" + s.basicExtra +
                      "\n[failcmd1]\nFAIL_CMD=/etc/hang\n[failcmd124]\nFAIL_CMD=/bin/true\n");
    }
    box.Place("/etc/sysconfig/rc.conf", rc);
    box.Place("/etc/hang", "#!/bin/sh\ntrap '' TERM\nsleep 600\n", 0755);
    box.Place("/usr/bin/mainlogszipperforvigiler", std::string("#!/bin/sh\n") + c.archiver + "\n",
              0755);
    box.Start();
    int at = 0;
    for (const std::string& message : c.inOrder) {
        at = box.WaitForMessage(message, std::chrono::seconds(20), at);
        ASSERT_GE(at, 0) << "missing, or out of order: " << message << "\n" << box.Dump();
    }
    // The background child of the hung script ended with it (a zombie waits for its reaper).
    EXPECT_TRUE(WaitUntil([&] {
        return box.Exec("s=$(sed -n 's/^State:\t\\(.\\).*/\\1/p' /proc/$(cat /run/bg)/status); "
                        "[ -z \"$s\" ] || [ \"$s\" = Z ]", std::chrono::seconds(5)).code == 0;
    })) << box.Dump();
    if (std::string(c.settingsExtra).empty()) {
        EXPECT_EQ(box.LogText().find("timed out"), std::string::npos);
    }
}

const std::string kHttpd = "/etc/vigilerd/scripts/httpd status";
const std::string kDone = "Debug: Thread CheckAllStati terminated";

INSTANTIATE_TEST_SUITE_P(
    InBox, TimeLimits,
    ::testing::Values(
        // A hung script with a background child; STATUS_TIMEOUT as the default that a row's
        // own TIMEOUT overrides; 124 judged like any other value.
        LimitCase{"HungStatusScripts",
                  "STATUS_TIMEOUT=1\n",
                  {{"named", "", "sleep 4"},
                   {"ntpd", "TIMEOUT=8", "sleep 2"},
                   {"httpd", "TIMEOUT=1\nBAD_RET=124,", "sleep 600 & echo $! >/run/bg\nsleep 600"}},
                  "exit 0",
                  {Calling("named"), TimedOut("/etc/vigilerd/scripts/named status"),
                   "Debug: Return value: 124", Calling("ntpd"), "Debug: Return value: 0",
                   Calling("httpd"), TimedOut(kHttpd), "Debug: Return value: 124",
                   "Warning: returnValue 124 (BAD RETURN) from cmd = " + kHttpd + " ()",
                   "Error: Executing the fail command /bin/true",
                   "Info: Fail Command successfully executed", kDone}},
        // The archiver and a fail command that ignores SIGTERM, under COMMAND_TIMEOUT.
        LimitCase{"HungArchiverAndFailCommand",
                  "COMMAND_TIMEOUT=1\n",
                  {{"httpd", "BAD_RET=1,", "exit 1"}},
                  "sleep 600",
                  {"Warning: returnValue 1 (BAD RETURN) from cmd = " + kHttpd + " ()",
                   "OK, let's try to archive some important logs first...",
                   TimedOut("/bin/mainlogszipperforvigiler"), "Done.",
                   "Error: Executing the fail command /etc/hang", TimedOut("/etc/hang"),
                   "Error: Fail Command not successfully executed, got Errorcode = 124 ()",
                   kDone}},
        // Without the keys a long script runs to its end, as it always did.
        LimitCase{"NoLimits", "", {{"httpd", "TIMEOUT=x", "sleep 3"}}, "exit 0",
                  {Calling("httpd"), "Debug: Return value: 0", kDone}}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
