// Service files read into the table: each error kind with its line and the fields it keeps,
// rc.conf's say over enablement, the per-service guard and the escalation warning.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "config/service_reader.h"
#include "config/service_table.h"
#include "platform/config_file.h"
#include "test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* kServiceDir = "/etc/vigilerd";

std::string ServicePath(const std::string& name) {
    return std::string(kServiceDir) + "/" + name;
}

const std::string kFaultless =
    "[basic]\n"
    "SCRIPT=/usr/bin/true\n"
    "GOOD_RET=0,\n"
    "MAX_FAIL=3\n";

std::vector<int32_t> Values(const GoodCmdStructure* first) {
    std::vector<int32_t> values;
    for (const GoodCmdStructure* node = first; node != nullptr; node = node->next) {
        values.push_back(node->value);
    }
    return values;
}

using FailNode = std::tuple<int32_t, int32_t, std::optional<std::string>>;

std::vector<FailNode> Nodes(const FailCmdStructure* first) {
    std::vector<FailNode> nodes;
    for (const FailCmdStructure* node = first; node != nullptr; node = node->next) {
        nodes.emplace_back(node->returnValue, node->goodReturn, node->failCmd);
    }
    return nodes;
}

// What one row holds after the reader.
struct Row {
    int32_t enabled;
    std::optional<std::string> script;
    std::optional<std::string> dependsOn;
    std::vector<int32_t> goodReturns;
    int32_t failsForEscalation;
    std::vector<FailNode> failCommands;
    int32_t maxFail;
    std::optional<std::string> escalationCmd;
};

void ExpectRow(const DaemonConfig& row, const Row& expected) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.enabled.load(), expected.enabled);
    EXPECT_EQ(row.script, expected.script);
    EXPECT_EQ(row.dependsOn, expected.dependsOn);
    EXPECT_EQ(Values(row.goodReturns), expected.goodReturns);
    EXPECT_EQ(row.failsForEscalation, expected.failsForEscalation);
    EXPECT_EQ(Nodes(row.failCommands), expected.failCommands);
    EXPECT_EQ(row.maxFail, expected.maxFail);
    EXPECT_EQ(row.escalationCmd, expected.escalationCmd);
    EXPECT_EQ(row.lastReturn, -1);
    EXPECT_EQ(row.currentFails.load(), 0);
}

const Row kUntouchedOff = {0, std::nullopt, std::nullopt, {}, -1, {}, -1, std::nullopt};
const Row kFaultlessOn = {1, "/usr/bin/true", std::nullopt, {0}, -1, {}, 3, std::nullopt};

class ServiceFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetDaemonState();
        test::RemovePath(kServiceDir);
    }
    void TearDown() override {
        test::RemovePath(kServiceDir);
        test::ResetDaemonState();  // releases the lists the reader built
    }

    // Every service gets the faultless file and is switched on, as rc.conf would.
    void AllFaultlessAndOn() {
        for (DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
            test::WriteFile(row->configFile, kFaultless);
            row->enabled = 1;
        }
    }
};

struct ErrorCase {
    const char* what;
    std::optional<std::string> file;  // nullopt: no file
    std::string message;
    Row kept;
};

// All keys after the faulty one, so the test shows that reading stopped at the error.
const std::string kAfterScript =
    "DEPENDS_ON=wanlink\n"
    "GOOD_RET=0,2,\n"
    "FAILS_FOR_ESCALATION=4\n"
    "BAD_RET=1,\n"
    "MAX_FAIL=3\n"
    "ESCALATION_CMD=reboot\n"
    "[failcmd1]\n"
    "FAIL_CMD=/etc/init.d/dhclient restart\n";

TEST_F(ServiceFiles, EachErrorKindDisablesItsServiceAndKeepsWhatWasRead) {
    const std::string file = ServicePath("dhclient");
    const std::vector<ErrorCase> cases = {
        {"missing file", std::nullopt,
         "Error: Configuration file /etc/vigilerd/dhclient not found.\n", kUntouchedOff},
        {"no basic section", "[base]\nSCRIPT=/usr/bin/true\n" + kAfterScript,
         "Error: Config file error (/etc/vigilerd/dhclient): Section basic not found\n",
         kUntouchedOff},
        {"no SCRIPT", "[basic]\n" + kAfterScript,
         "Error: Config file error (/etc/vigilerd/dhclient): Section key SCRIPT not found\n",
         kUntouchedOff},
        {"script missing", "[basic]\nSCRIPT=/usr/bin/no-such-status-script\n" + kAfterScript,
         "Error: Config file error (/etc/vigilerd/dhclient): Script "
         "/usr/bin/no-such-status-script not found\n",
         kUntouchedOff},
        {"empty SCRIPT", "[basic]\nSCRIPT=\n" + kAfterScript,
         "Error: Config file error (/etc/vigilerd/dhclient): Script  not found\n", kUntouchedOff},
        {"no GOOD_RET",
         "[basic]\nSCRIPT=/usr/bin/true\nDEPENDS_ON=wanlink\nFAILS_FOR_ESCALATION=4\n"
         "BAD_RET=1,\nMAX_FAIL=3\nESCALATION_CMD=reboot\n[failcmd1]\nFAIL_CMD=restart\n",
         "Error: Config file error (/etc/vigilerd/dhclient): Section key GOOD_RET not found\n",
         {0, "/usr/bin/true", "wanlink", {}, -1, {}, -1, std::nullopt}},
        {"no MAX_FAIL",
         "[basic]\nSCRIPT=/usr/bin/true\nDEPENDS_ON=wanlink\nGOOD_RET=0,2,\n"
         "FAILS_FOR_ESCALATION=4\nBAD_RET=1,\nESCALATION_CMD=reboot\n"
         "[failcmd1]\nFAIL_CMD=restart\nMAX_FAIL=9\n",  // in the wrong section
         "Error: Config file error (/etc/vigilerd/dhclient): Section key MAX_FAIL not found\n",
         {0, "/usr/bin/true", "wanlink", {0, 2}, 4, {FailNode{1, 0, "restart"}}, -1, std::nullopt}},
        {"MAX_FAIL 2147483647 counts as absent",
         "[basic]\nSCRIPT=/usr/bin/true\nGOOD_RET=0,\nMAX_FAIL=2147483647\n",
         "Error: Config file error (/etc/vigilerd/dhclient): Section key MAX_FAIL not found\n",
         {0, "/usr/bin/true", std::nullopt, {0}, -1, {}, -1, std::nullopt}},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::ResetDaemonState();
        test::RemovePath(kServiceDir);
        AllFaultlessAndOn();
        test::RemovePath(file);
        if (c.file) {
            test::WriteFile(file, *c.file);
        }
        test::LogCapture log;
        ReadServiceConfigs();
        EXPECT_THAT(log.Messages(), ElementsAre(c.message));
        ExpectRow(daemonConfigs[1], c.kept);
        // The services around it were read in full.
        ExpectRow(daemonConfigs[0], kFaultlessOn);
        ExpectRow(daemonConfigs[2], kFaultlessOn);
        ExpectRow(daemonConfigs[12], kFaultlessOn);
    }
}

TEST_F(ServiceFiles, FullFileIsReadButOnlyRcConfEnables) {
    AllFaultlessAndOn();
    daemonConfigs[8].enabled = 0;  // rc.conf switched voice off
    test::WriteFile(ServicePath("voice"),
                    "[basic]\n"
                    "SCRIPT=/usr/bin/true\n"
                    "DEPENDS_ON=\n"
                    "GOOD_RET=0,1,\n"
                    "FAILS_FOR_ESCALATION=0\n"
                    "BAD_RET=2,3,\n"
                    "MAX_FAIL=0\n"
                    "ESCALATION_CMD=\n"
                    "[failcmd2]\n"
                    "FAIL_CMD=/etc/init.d/voice restart\n"
                    "FAIL_CMD_GOOD_RETURN=1\n"
                    "[failcmd3]\n"
                    "FAIL_CMD=/etc/init.d/voice reload\n");
    test::LogCapture log;
    ReadServiceConfigs();
    EXPECT_THAT(log.Messages(), IsEmpty());
    // Empty DEPENDS_ON and ESCALATION_CMD are present, empty values, not absent ones.
    ExpectRow(daemonConfigs[8], {0,
                                 "/usr/bin/true",
                                 "",
                                 {0, 1},
                                 0,
                                 {FailNode{2, 1, "/etc/init.d/voice restart"},
                                  FailNode{3, 0, "/etc/init.d/voice reload"}},
                                 0,
                                 ""});
    for (const DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        if (row->id != 8) {
            ExpectRow(*row, kFaultlessOn);
        }
    }
}

TEST_F(ServiceFiles, FailCommandSectionProblemsDoNotDisable) {
    AllFaultlessAndOn();
    test::WriteFile(ServicePath("ntp"),
                    "[basic]\nSCRIPT=/usr/bin/true\nGOOD_RET=0,\nBAD_RET=1,2,3,\nMAX_FAIL=2\n"
                    "ESCALATION_CMD=reboot\nFAILS_FOR_ESCALATION=2147483647\n"
                    "[failcmd1]\nFAIL_CMD=fix\n[failcmd3]\nFAIL_CMD_GOOD_RETURN=0\n");
    test::LogCapture log;
    ReadServiceConfigs();
    EXPECT_THAT(log.Messages(),
                ElementsAre("Error: Could not find the Section failcmd2 in /etc/vigilerd/ntp\n",
                            "Error: Could not find FAIL_CMD entry in Section failcmd3\n"));
    // MAX_FAIL and ESCALATION_CMD were found in "basic" again after the failcmd sections;
    // FAILS_FOR_ESCALATION 2147483647 is absent, so no escalation and no warning.
    ExpectRow(daemonConfigs[6],
              {1, "/usr/bin/true", std::nullopt, {0}, -1, {FailNode{1, 0, "fix"}}, 2, "reboot"});
}

TEST_F(ServiceFiles, ExceptionInOneServiceLeavesTheOthersRead) {
    AllFaultlessAndOn();
    // A directory passes the existence test and fails to be read.
    const std::string path = ServicePath("ipsec");
    test::RemovePath(path);
    ASSERT_EQ(test::Shell("mkdir -p '" + path + "'"), 0);
    std::string what;
    try {
        MultiSectionConfigFile probe(path, false, true, false);
    } catch (const std::exception& error) {
        what = error.what();
    }
    ASSERT_FALSE(what.empty());

    test::LogCapture log;
    ReadServiceConfigs();
    EXPECT_THAT(log.Messages(), ElementsAre("Error: Catched exception: " + what + "\n"));
    // rc.conf's enablement stands; the settings stay unread.
    ExpectRow(daemonConfigs[2], {1, std::nullopt, std::nullopt, {}, -1, {}, -1, std::nullopt});
    for (const DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        if (row->id != 2) {
            ExpectRow(*row, kFaultlessOn);
        }
    }
}

TEST_F(ServiceFiles, EscalationCountWithoutCommandIsWarnedOnce) {
    AllFaultlessAndOn();
    test::WriteFile(ServicePath("httpd"), kFaultless + "FAILS_FOR_ESCALATION=5\n");
    // A file that stops at an error is not warned about on top of its error.
    test::WriteFile(ServicePath("stats"),
                    "[basic]\nSCRIPT=/usr/bin/true\nGOOD_RET=0,\nFAILS_FOR_ESCALATION=5\n");
    test::LogCapture log;
    ReadServiceConfigs();
    EXPECT_THAT(log.Messages(),
                ElementsAre("Warning: Config file error (/etc/vigilerd/httpd): "
                            "FAILS_FOR_ESCALATION without ESCALATION_CMD, never escalating\n",
                            "Error: Config file error (/etc/vigilerd/stats): Section key "
                            "MAX_FAIL not found\n"));
    ExpectRow(daemonConfigs[7], {1, "/usr/bin/true", std::nullopt, {0}, 5, {}, 3, std::nullopt});
}

// Start-up reads the files once; a second run over the filled table replaces the settings
// and releases the old lists (the sanitizer build reports anything lost).
TEST_F(ServiceFiles, SecondRunReplacesListsAndTexts) {
    AllFaultlessAndOn();
    const std::string path = ServicePath("named");
    test::WriteFile(path,
                    "[basic]\nSCRIPT=/usr/bin/true\nDEPENDS_ON=wanlink\nGOOD_RET=0,\n"
                    "BAD_RET=1,\nMAX_FAIL=3\nESCALATION_CMD=reboot\n[failcmd1]\nFAIL_CMD=a\n");
    ReadServiceConfigs();
    test::WriteFile(path,
                    "[basic]\nSCRIPT=/usr/bin/false\nGOOD_RET=0,4,\nBAD_RET=2,\nMAX_FAIL=1\n"
                    "[failcmd2]\nFAIL_CMD=b\n");
    test::LogCapture log;
    ReadServiceConfigs();
    EXPECT_THAT(log.Messages(), IsEmpty());
    // Absent optional keys leave the earlier values in place.
    ExpectRow(daemonConfigs[4],
              {1, "/usr/bin/false", "wanlink", {0, 4}, -1, {FailNode{2, 0, "b"}}, 1, "reboot"});
}

}  // namespace
