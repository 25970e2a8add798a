// The log keys of the real daemon: which lines each level keeps, their copy in the system log
// with its priorities, the system log alone, and the rename of the log at its size limit.
#include <regex>

#include "scenario.h"

namespace e2e::scenario {

struct LogCase {
    const char* name;
    const char* settings;  // added to the test box's settings
    std::string dropped;   // beginnings of the lines left out, "Debug:|Info:"
    bool file, system;     // where the kept lines go
};

class LogKeys : public BoxTest, public ::testing::WithParamInterface<LogCase> {};

// Start-up, then a pass with a failure and its repair: lines of every beginning.
TEST_P(LogKeys, KeepTheLinesOfTheLevelWhereTheyAskFor) {
    const LogCase& c = GetParam();
    box.Prepare("printf '" + std::string(c.settings) + "' >>/etc/vigilerd.conf");
    box.Place("/etc/vigilerd/httpd", Service("httpd", "BAD_RET=1,\nMAX_FAIL=1\n[failcmd1]\n"
                                                      "FAIL_CMD=/bin/true\n"));
    ScriptStatus(box, "httpd", "1");
    Lines all = {kRcPass,
                 "ppp, dhclient, ipsec, dhcpd_lan, named, ntpd, voice, vpnd, ipsecd, stats, tftpd "
                 "not monitored. Disabled by rc.conf.",
                 kTick};
    Lines pass = Pass({Call("ntp", 0),
                       Call("httpd", 1,
                            Counted("httpd", 1, 1,
                                    {"Error: Executing the fail command /bin/true",
                                     "Info: Fail Command successfully executed"}))});
    all.insert(all.end(), pass.begin(), pass.end());
    Lines kept, records;
    const std::string priorities[] = {"Debug:31", "Info:30", "Warning:28", "Error:27"};
    for (const std::string& message : all) {
        std::string priority = "29";  // a line without a level word is a notice
        for (const std::string& p : priorities)
            if (message.rfind(p.substr(0, p.find(':') + 1), 0) == 0)
                priority = p.substr(p.find(':') + 1);
        bool drop = false;
        for (const std::string& beginning : Split(c.dropped))
            drop |= message.rfind(beginning, 0) == 0;
        if (!drop) {
            kept.push_back(message);
            records.push_back("<" + priority + ">" + message);
        }
    }
    box.Start();
    // The start-up line comes before the settings are read: always in the file, as today.
    kept.insert(kept.begin(), "Info: started");
    Lines file = c.file ? kept : Lines{"Info: started"};
    ASSERT_TRUE(WaitUntil([&] { return box.Messages().size() >= file.size(); }));
    Lines log = box.Messages();
    log.resize(file.size());
    EXPECT_EQ(log, file);
    // Each record as syslog(3) forms it, with the facility daemon, cut to "<priority>message".
    const std::regex head("<([0-9]+)>[A-Z][a-z]{2} [ 1-3][0-9] [0-9:]{8} vigilerd\\[" +
                          std::to_string(box.Pid()) + "\\]: ");
    if (!c.system)
        records.clear();
    ASSERT_TRUE(WaitUntil([&] { return box.AlertRecords().size() >= records.size(); }));
    Lines got;
    for (const std::string& record : box.AlertRecords())
        got.push_back(std::regex_replace(record, head, "<$1>", std::regex_constants::format_first_only));
    got.resize(records.size());
    EXPECT_EQ(got, records);
    EXPECT_TRUE(c.system || box.Read("/run/box/syslog.log").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Box, LogKeys,
    ::testing::Values(LogCase{"NoKeys", "", "", true, false},
                      LogCase{"Info", "LOG_LEVEL=info\n", "Debug:", true, false},
                      LogCase{"Warning", "LOG_LEVEL=warning\n", "Debug:|Info:", true, false},
                      LogCase{"OtherValues", "LOG_LEVEL=Info\nLOG_SYSLOG=3\nLOG_MAX_KB=x\n", "",
                              true, false},
                      LogCase{"FileAndSystemLog", "LOG_SYSLOG=1\n", "", true, true},
                      LogCase{"SystemLogOnly", "LOG_LEVEL=warning\nLOG_SYSLOG=2\n",
                              "Debug:|Info:", false, true}),
    [](const ::testing::TestParamInfo<LogCase>& info) { return info.param.name; });

// At 1 kB the log of a pass a second is renamed every few passes; both files hold whole lines of
// this daemon only, the older one in vigilerd.log.1.
TEST_F(BoxTest, LogRenamedAtItsLimit) {
    box.Prepare("printf 'LOG_MAX_KB=1\\n' >>/etc/vigilerd.conf").Start();
    ASSERT_TRUE(WaitUntil([&] { return box.Exists("/var/log/vigilerd.log.1"); }));
    ASSERT_TRUE(box.WaitForMessage(scenario::kTerminated) >= 0);
    const std::string line = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] [0-9:]{8} [0-9]{4} \\[" +
                             std::to_string(box.Pid()) + "\\] [^\n]*\n";
    for (const std::string& text : {box.Read("/var/log/vigilerd.log.1"), box.LogText()}) {
        EXPECT_LE(text.size(), 1024u);
        EXPECT_TRUE(std::regex_match(text, std::regex("(" + line + ")+"))) << text;
    }
}

}  // namespace e2e::scenario
