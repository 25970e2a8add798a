// The service table: the fourteen fixed rows, their initial values and the reset that tests
// use to put a filled table back (and release what it owns).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/service_table.h"
#include "test_support.h"

namespace {

struct Identity {
    int32_t id;
    const char* name;
    const char* configFile;
    const char* rcConfKey;
};

const Identity kRows[] = {
    {0, "ppp", "/etc/vigilerd/ppp", "START_PPP"},
    {1, "dhclient", "/etc/vigilerd/dhclient", "START_DHCLIENT"},
    {2, "ipsec", "/etc/vigilerd/ipsec", "START_IPSEC"},
    {3, "dhcpd_lan", "/etc/vigilerd/dhcpd_lan", "START_DHCPD_LAN"},
    {4, "named", "/etc/vigilerd/named", "START_NAMED"},
    {5, "ntpd", "/etc/vigilerd/ntpd", "START_NTPD"},
    {6, "ntp", "/etc/vigilerd/ntp", "START_NTP"},
    {7, "httpd", "/etc/vigilerd/httpd", "START_HTTPD"},
    {8, "voice", "/etc/vigilerd/voice", "START_VOICE"},
    {9, "vpnd", "/etc/vigilerd/vpnd", "START_VPND"},
    {10, "ipsecd", "/etc/vigilerd/ipsecd", "START_IPSECD"},
    {11, "stats", "/etc/vigilerd/stats", "START_STATS"},
    {12, "tftpd", "/etc/vigilerd/tftpd", "START_TFTPD"},
};

void ExpectInitialServiceRow(const DaemonConfig& row) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.enabled.load(), 0);
    EXPECT_EQ(row.lastReturn, -1);
    EXPECT_FALSE(row.script.has_value());
    EXPECT_EQ(row.goodReturns, nullptr);
    EXPECT_EQ(row.failCommands, nullptr);
    EXPECT_EQ(row.maxFail, -1);
    EXPECT_EQ(row.currentFails.load(), 0);
    EXPECT_FALSE(row.escalationCmd.has_value());
    EXPECT_EQ(row.failsForEscalation, -1);
    EXPECT_FALSE(row.dependsOn.has_value());
}

class ServiceTable : public ::testing::Test {
  protected:
    void SetUp() override { test::ResetDaemonState(); }
    void TearDown() override { test::ResetDaemonState(); }
};

TEST_F(ServiceTable, FixedRowsAndSentinel) {
    for (const Identity& expected : kRows) {
        const DaemonConfig& row = daemonConfigs[expected.id];
        EXPECT_EQ(row.id, expected.id);
        EXPECT_STREQ(row.name, expected.name);
        EXPECT_STREQ(row.configFile, expected.configFile);
        EXPECT_STREQ(row.rcConfKey, expected.rcConfKey);
        ExpectInitialServiceRow(row);
    }
    const DaemonConfig& sentinel = daemonConfigs[13];
    EXPECT_EQ(sentinel.id, kSentinelId);
    EXPECT_STREQ(sentinel.name, "invalid");
    EXPECT_EQ(sentinel.enabled.load(), -1);
    EXPECT_EQ(sentinel.configFile, nullptr);
    EXPECT_EQ(sentinel.rcConfKey, nullptr);
    EXPECT_EQ(sentinel.lastReturn, -1);
    EXPECT_EQ(sentinel.maxFail, -1);
    EXPECT_EQ(sentinel.failsForEscalation, -1);
    EXPECT_EQ(sentinel.currentFails.load(), 0);
    EXPECT_STREQ(daemonConfigs[kVoiceId].name, "voice");

    // The sentinel walk visits exactly rows 0 to 12, in order.
    std::vector<int32_t> walked;
    for (const DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        walked.push_back(row->id);
    }
    EXPECT_EQ(walked.size(), 13u);
    for (size_t i = 0; i < walked.size(); ++i) {
        EXPECT_EQ(walked[i], static_cast<int32_t>(i));
    }
}

// A filled table goes back to its start values; what the rows owned is released (the
// sanitizer build reports anything lost).
TEST_F(ServiceTable, ResetRestoresInitialValuesAndReleasesWhatRowsOwn) {
    for (DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        row->enabled = 1;
        row->lastReturn = 3;
        row->script = std::string("/usr/bin/true");
        row->goodReturns = GetNumbers("0,1,");
        row->failCommands = NewFailCmdStructure("repair", 2, 0);
        row->failCommands->next = NewFailCmdStructure("repair harder", 3, 1);
        row->maxFail = 3;
        row->currentFails = 7;
        row->escalationCmd = std::string("reboot");
        row->failsForEscalation = 5;
        row->dependsOn = std::string("wanlink");
    }
    ResetServiceTable();
    for (const DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        ExpectInitialServiceRow(*row);
    }
    EXPECT_EQ(daemonConfigs[13].enabled.load(), -1);
    EXPECT_STREQ(daemonConfigs[3].name, "dhcpd_lan");  // identity is never touched
}

}  // namespace
