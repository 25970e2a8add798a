// The log keys of the real daemon: which lines each level keeps, their copy in the system log
// with its priorities, and the system log alone.
#include <map>
#include <tuple>

#include "scenario.h"

namespace e2e::scenario {

// The settings added; the lines kept: those whose priority is below (Debug 31, Info 30); as
// LOG_SYSLOG, where they go: 0 the file, 1 the file and the system log, 2 the system log.
using LogCase = std::tuple<const char*, int, int>;

class LogKeys : public BoxTest, public ::testing::WithParamInterface<LogCase> {};

// Start-up, then a pass with a failure and its repair: lines of every beginning.
TEST_P(LogKeys, KeepTheLinesOfTheLevelWhereTheyAskFor) {
    const auto [settings, keptBelow, copy] = GetParam();
    box.Prepare("printf '" + std::string(settings) + "' >>/etc/vigilerd.conf");
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
        {"Error:", 27}, {"Warning:", 28}, {"Info:", 30}, {"Debug:", 31}};
    for (auto line = all.begin() + 1; line != all.end(); ++line) {
        int priority = levels.emplace(line->substr(0, line->find(' ')), 29).first->second;
        if (priority < keptBelow && copy != 2)
            file.push_back(*line);
        if (priority < keptBelow && copy != 0)
            records.push_back("<" + std::to_string(priority) + ">" + *line);
    }
    box.Start();
    ASSERT_TRUE(WaitUntil([&] { return box.AlertRecords().size() >= records.size(); }));
    ASSERT_TRUE(WaitUntil([&] { return (log = box.Messages()).size() >= file.size(); }));
    log.resize(file.size());
    EXPECT_EQ(log, file);
    got = box.Records();
    got.resize(std::max(records.size(), copy ? 0 : got.size()));
    EXPECT_EQ(got, records);
}

const LogCase kRows[] = {{"LOG_LEVEL=info\nLOG_SYSLOG=1\n", 31, 1},
                         {"LOG_LEVEL=warning\nLOG_SYSLOG=2\n", 30, 2},
                         // Any other value: debug, the file only, no limit.
                         {"LOG_LEVEL=Info\nLOG_SYSLOG=3\nLOG_MAX_KB=x\n", 32, 0}};
INSTANTIATE_TEST_SUITE_P(Box, LogKeys, ::testing::ValuesIn(kRows));

}  // namespace e2e::scenario
