// The log keys of the real daemon: which lines each level keeps, their copy in the system log
// with its priorities, and the system log alone.
#include <map>
#include <regex>

#include "scenario.h"

namespace e2e::scenario {

struct LogCase {
    const char* name;
    const char* settings;  // added to the test box's settings
    int keptBelow;         // the lines kept: those whose priority is below (Debug 31, Info 30)
    int copy;              // as LOG_SYSLOG: 0 file, 1 file and system log, 2 system log
};

class LogKeys : public BoxTest, public ::testing::WithParamInterface<LogCase> {};

// Start-up, then a pass with a failure and its repair: lines of every beginning.
TEST_P(LogKeys, KeepTheLinesOfTheLevelWhereTheyAskFor) {
    const LogCase& c = GetParam();
    box.Prepare("printf '" + std::string(c.settings) + "' >>/etc/vigilerd.conf");
    box.Place("/etc/vigilerd/httpd",
              Service("httpd", "BAD_RET=1,\nMAX_FAIL=1\n[failcmd1]\nFAIL_CMD=/bin/true\n"));
    ScriptStatus(box, "httpd", "1");
    // After the pass's own first line: the rc.conf pass, the tick, then the pass.
    Lines all = Pass({{kRcPass, kOthersOff, kTick, kStarted},
                      Call("ntp", 0),
                      Call("httpd", 1, Counted("httpd", 1, 1, {kExec + "/bin/true", kWorked}))});
    // The start-up line comes before the settings are read: always in the file, as today.
    Lines file = {"Info: started"}, records, log, got;
    // Facility daemon and the level of the line's start; without a level word, a notice.
    std::map<std::string, int> levels = {
        {"Fatal", 26}, {"Error:", 27}, {"Warning:", 28}, {"Info:", 30}, {"Debug:", 31}};
    for (auto line = all.begin() + 1; line != all.end(); ++line) {
        int priority = levels.emplace(line->substr(0, line->find(' ')), 29).first->second;
        if (priority < c.keptBelow && c.copy != 2)
            file.push_back(*line);
        if (priority < c.keptBelow && c.copy != 0)
            records.push_back("<" + std::to_string(priority) + ">" + *line);
    }
    box.Start();
    ASSERT_TRUE(WaitUntil([&] {
        return box.AlertRecords().size() >= records.size() &&
               (log = box.Messages()).size() >= file.size();
    }));
    log.resize(file.size());
    EXPECT_EQ(log, file);
    // Each record as syslog(3) forms it, cut to "<priority>message".
    const std::regex head("<([0-9]+)>[A-Z][a-z]{2} [ 1-3][0-9] [0-9:]{8} vigilerd\\[" +
                          std::to_string(box.Pid()) + "\\]: ");
    for (const std::string& record : box.AlertRecords())
        got.push_back(std::regex_replace(record, head, "<$1>"));
    got.resize(std::max(records.size(), c.copy ? 0 : got.size()));
    EXPECT_EQ(got, records);
}

INSTANTIATE_TEST_SUITE_P(
    Box, LogKeys,
    ::testing::Values(LogCase{"Info", "LOG_LEVEL=info\n", 31, 0},
                      LogCase{"Warning", "LOG_LEVEL=warning\nLOG_SYSLOG=3\nLOG_MAX_KB=x\n", 30, 0},
                      // Any other level is debug.
                      LogCase{"FileAndSystemLog", "LOG_LEVEL=Info\nLOG_SYSLOG=1\n", 32, 1},
                      LogCase{"SystemLogOnly", "LOG_LEVEL=warning\nLOG_SYSLOG=2\n", 30, 2}),
    [](const ::testing::TestParamInfo<LogCase>& info) { return info.param.name; });

}  // namespace e2e::scenario
