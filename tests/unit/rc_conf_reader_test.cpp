// rc.conf passes: the run switch, each row's enabled flag and count, the disabled-services
// line, the WAN name from the interface state file, and passes that run side by side.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "config/rc_conf_reader.h"
#include "config/service_table.h"
#include "core/daemon.h"
#include "test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::vector<std::string> kRowKeys = {
    "START_PPP",    "START_DHCLIENT", "START_IPSEC", "START_DHCPD_LAN", "START_NAMED",
    "START_NTPD",   "START_NTP",      "START_HTTPD", "START_VOICE",     "START_VPND",
    "START_IPSECD", "START_STATS",    "START_TFTPD"};

// rc.conf with START_VIGILERD and every row key "true", then the given changes; a change
// to the text "<absent>" leaves the key out.
std::string RcConf(const std::map<std::string, std::string>& changes = {}) {
    std::map<std::string, std::string> keys;
    keys["START_VIGILERD"] = "true";
    for (const std::string& key : kRowKeys) {
        keys[key] = "true";
    }
    for (const auto& change : changes) {
        keys[change.first] = change.second;
    }
    std::string text = "# system services\n";
    for (const auto& key : keys) {
        if (key.second != "<absent>") {
            text += key.first + "=" + key.second + "\n";
        }
    }
    return text;
}

std::vector<int32_t> Enabled() {
    std::vector<int32_t> values;
    for (const DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        values.push_back(row->enabled);
    }
    return values;
}

std::vector<int32_t> Counts() {
    std::vector<int32_t> values;
    for (const DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        values.push_back(row->currentFails);
    }
    return values;
}

void SetAllRows(int32_t enabled, int32_t currentFails) {
    for (DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        row->enabled = enabled;
        row->currentFails = currentFails;
    }
}

std::optional<std::string> Wan() {
    std::string name = "stale";
    if (!WanInterfaceName(name)) {
        return std::nullopt;
    }
    return name;
}

class RcConfPass : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetDaemonState();
        test::WriteFile(kInterfacesPath, "VIRT_WAN=eth1\n");
    }
    void TearDown() override {
        test::RemovePath(kRcConfPath);
        test::RemovePath(kInterfacesPath);
        test::ResetDaemonState();
    }
};

TEST_F(RcConfPass, EverythingTrueEnablesAllRowsQuietly) {
    test::WriteFile(kRcConfPath, RcConf());
    test::LogCapture log;
    ReadRCConf();
    EXPECT_EQ(vigilerd_RC_Conf_Run.load(), 1);
    EXPECT_EQ(Enabled(), std::vector<int32_t>(13, 1));
    EXPECT_THAT(log.Messages(), ElementsAre("Info: (Re)reading rc.conf.\n"));
    EXPECT_EQ(Wan(), std::optional<std::string>("eth1"));
    EXPECT_EQ(daemonConfigs[13].enabled.load(), -1);  // the sentinel is never a service
}

TEST_F(RcConfPass, SwitchedOffRowsAreNamedInTableOrderAbsentOnesAreNot) {
    test::WriteFile(kRcConfPath, RcConf({{"START_PPP", "<absent>"},
                                         {"START_NAMED", "no"},
                                         {"START_IPSEC", "false"},
                                         {"START_TFTPD", "TRUE"}}));
    SetAllRows(1, 4);
    test::LogCapture log;
    ReadRCConf();
    //                                ppp dhc ips dhc nam ntpd ntp htt voi vpn ipsd sta tftp
    EXPECT_EQ(Enabled(), (std::vector<int32_t>{0, 1, 0, 1, 0, 1, 1, 1, 1, 1, 1, 1, 0}));
    EXPECT_EQ(Counts(), (std::vector<int32_t>{0, 4, 0, 4, 0, 4, 4, 4, 4, 4, 4, 4, 0}));
    EXPECT_THAT(log.Messages(),
                ElementsAre("Info: (Re)reading rc.conf.\n",
                            "ipsec, named, tftpd not monitored. Disabled by rc.conf.\n"));
}

TEST_F(RcConfPass, EveryRowSwitchedOffGivesTheLongestLine) {
    std::map<std::string, std::string> off;
    for (const std::string& key : kRowKeys) {
        off[key] = "no";
    }
    test::WriteFile(kRcConfPath, RcConf(off));
    test::LogCapture log;
    ReadRCConf();
    const std::string line =
        "ppp, dhclient, ipsec, dhcpd_lan, named, ntpd, ntp, httpd, voice, vpnd, ipsecd, stats, "
        "tftpd not monitored. Disabled by rc.conf.";
    EXPECT_EQ(line.size(), 127u);
    EXPECT_THAT(log.Messages(), ElementsAre("Info: (Re)reading rc.conf.\n", line + "\n"));
    EXPECT_EQ(Enabled(), std::vector<int32_t>(13, 0));
}

// Only the four bytes "true" switch the daemon on; anything else leaves the rows untouched.
TEST_F(RcConfPass, RunSwitchNeedsExactlyTrue) {
    struct Case {
        std::string value;
        int32_t run;
    };
    const std::vector<Case> cases = {
        {"true", 1}, {"TRUE", 0}, {"True", 0}, {"\"true \"", 0},
        {"yes", 0},  {"1", 0},    {"\"\"", 0}, {"truest", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        test::ResetDaemonState();
        SetAllRows(0, 2);
        daemonConfigs[4].enabled = 1;
        test::WriteFile(kRcConfPath, RcConf({{"START_VIGILERD", c.value}}));
        test::LogCapture log;
        ReadRCConf();
        EXPECT_EQ(vigilerd_RC_Conf_Run.load(), c.run);
        if (c.run == 1) {
            EXPECT_THAT(log.Messages(), ElementsAre("Info: (Re)reading rc.conf.\n"));
            EXPECT_EQ(Enabled(), std::vector<int32_t>(13, 1));
        } else {
            EXPECT_THAT(log.Messages(), IsEmpty());
            std::vector<int32_t> kept(13, 0);
            kept[4] = 1;
            EXPECT_EQ(Enabled(), kept);
            EXPECT_EQ(Counts(), std::vector<int32_t>(13, 2));
        }
        EXPECT_EQ(Wan(), std::optional<std::string>("eth1"));  // refreshed all the same
    }
}

TEST_F(RcConfPass, MissingRunSwitchIsReportedAndRowsStay) {
    test::WriteFile(kRcConfPath, RcConf({{"START_VIGILERD", "<absent>"}}));
    test::WriteFile(kInterfacesPath, "VIRT_WAN=ppp0\n");
    SetAllRows(1, 3);
    test::LogCapture log;
    ReadRCConf();
    EXPECT_EQ(vigilerd_RC_Conf_Run.load(), 0);
    EXPECT_THAT(log.Messages(),
                ElementsAre("Error: Error: Entry START_VIGILERD not found rc.conf file.\n"));
    EXPECT_EQ(Enabled(), std::vector<int32_t>(13, 1));
    EXPECT_EQ(Counts(), std::vector<int32_t>(13, 3));
    EXPECT_EQ(Wan(), std::optional<std::string>("ppp0"));
}

TEST_F(RcConfPass, RowSwitchedOffAndOnAgainStartsCountingFromZero) {
    test::WriteFile(kRcConfPath, RcConf());
    ReadRCConf();
    daemonConfigs[7].currentFails = 3;  // httpd
    daemonConfigs[0].currentFails = 2;  // ppp stays on throughout

    test::WriteFile(kRcConfPath, RcConf({{"START_HTTPD", "no"}}));
    ReadRCConf();
    EXPECT_EQ(daemonConfigs[7].enabled.load(), 0);
    EXPECT_EQ(daemonConfigs[7].currentFails.load(), 0);
    daemonConfigs[7].currentFails = 5;  // a check still running counted once more

    test::WriteFile(kRcConfPath, RcConf());
    test::LogCapture log;
    ReadRCConf();
    EXPECT_EQ(daemonConfigs[7].enabled.load(), 1);
    EXPECT_EQ(daemonConfigs[7].currentFails.load(), 5);  // switching on leaves the count
    EXPECT_EQ(daemonConfigs[0].currentFails.load(), 2);
    EXPECT_THAT(log.Messages(), ElementsAre("Info: (Re)reading rc.conf.\n"));

    // A faultless pass also switches back on a row that a service-file error switched off.
    daemonConfigs[3].enabled = 0;
    ReadRCConf();
    EXPECT_EQ(daemonConfigs[3].enabled.load(), 1);
}

TEST_F(RcConfPass, WanNameFollowsTheInterfaceFileOnEveryPass) {
    test::WriteFile(kRcConfPath, RcConf());
    struct Case {
        const char* what;
        std::optional<std::string> interfaces;  // nullopt: no file
        std::optional<std::string> wan;
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases = {
        {"named", "VIRT_WAN=eth0\nLAN=br0\n", "eth0", {}},
        {"empty value is a known empty name", "VIRT_WAN=\n", "", {}},
        {"renamed", "VIRT_WAN=ppp0\n", "ppp0", {}},
        {"key absent", "LAN=br0\n", std::nullopt, {}},
        {"named again", "VIRT_WAN=eth0\n", "eth0", {}},
        {"file missing",
         std::nullopt,
         std::nullopt,
         {"Error: failed to open /var/run/interfaces\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::RemovePath(kInterfacesPath);
        if (c.interfaces) {
            test::WriteFile(kInterfacesPath, *c.interfaces);
        }
        SetAllRows(0, 0);
        test::LogCapture log;
        ReadRCConf();
        EXPECT_EQ(Wan(), c.wan);
        std::vector<std::string> expected = {"Info: (Re)reading rc.conf.\n"};
        expected.insert(expected.end(), c.messages.begin(), c.messages.end());
        EXPECT_EQ(log.Messages(), expected);
        EXPECT_EQ(Enabled(), std::vector<int32_t>(13, 1));  // the pass still set the rows
    }
}

TEST_F(RcConfPass, MissingRcConfAtStartUpLeavesEverythingOff) {
    test::RemovePath(kRcConfPath);
    test::LogCapture log;
    ReadRCConf();
    EXPECT_EQ(vigilerd_RC_Conf_Run.load(), 0);
    EXPECT_THAT(log.Messages(), ElementsAre("Error: failed to open /etc/sysconfig/rc.conf\n"));
    EXPECT_EQ(Enabled(), std::vector<int32_t>(13, 0));
    EXPECT_EQ(Wan(), std::optional<std::string>("eth1"));
}

TEST_F(RcConfPass, MissingRcConfAtLaterPassKeepsTheRows) {
    test::WriteFile(kRcConfPath, RcConf({{"START_NTP", "no"}}));
    ReadRCConf();
    daemonConfigs[1].currentFails = 2;
    test::RemovePath(kRcConfPath);
    test::RemovePath(kInterfacesPath);
    test::LogCapture log;
    ReadRCConf();
    EXPECT_EQ(vigilerd_RC_Conf_Run.load(), 0);
    EXPECT_THAT(log.Messages(), ElementsAre("Error: failed to open /etc/sysconfig/rc.conf\n",
                                            "Error: failed to open /var/run/interfaces\n"));
    std::vector<int32_t> expected(13, 1);
    expected[6] = 0;
    EXPECT_EQ(Enabled(), expected);
    EXPECT_EQ(daemonConfigs[1].currentFails.load(), 2);
    EXPECT_EQ(Wan(), std::nullopt);  // the name was still refreshed
}

// Passes from the signal thread and the wait thread may coincide, while a check thread reads
// the WAN name: each pass must log its two lines together, and every name read is whole.
TEST_F(RcConfPass, ConcurrentPassesNeverInterleave) {
    test::WriteFile(kRcConfPath, RcConf({{"START_VOICE", "off"}}));
    test::WriteFile(kInterfacesPath, "VIRT_WAN=eth0.100\n");
    test::LogCapture log;
    std::atomic<bool> stop{false};
    std::atomic<int> badNames{0};
    std::thread reader([&] {
        while (!stop) {
            std::string name;
            if (WanInterfaceName(name) && name != "eth0.100") {
                ++badNames;
            }
        }
    });
    const int threads = 4;
    const int passes = 50;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([] {
            for (int i = 0; i < passes; ++i) {
                ReadRCConf();
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    stop = true;
    reader.join();

    EXPECT_EQ(badNames.load(), 0);
    std::vector<std::string> messages = log.Messages();
    ASSERT_EQ(messages.size(), static_cast<size_t>(2 * threads * passes));
    for (size_t i = 0; i < messages.size(); i += 2) {
        ASSERT_EQ(messages[i], "Info: (Re)reading rc.conf.\n") << "line " << i;
        ASSERT_EQ(messages[i + 1], "voice not monitored. Disabled by rc.conf.\n") << "line " << i;
    }
}

}  // namespace
