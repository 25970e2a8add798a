// The fixed table of the thirteen monitored services and its sentinel row.
// Owns the service record and the table's initial values.
#include "config/service_table.h"

// Fields in record order: id, name, enabled, configFile, rcConfKey, lastReturn, script,
// goodReturns, failCommands, maxFail, currentFails, escalationCmd, failsForEscalation,
// dependsOn. Every service starts disabled and unconfigured; the sentinel row ends every walk.
DaemonConfig daemonConfigs[14] = {
    {0, "ppp", 0, "/etc/vigilerd/ppp", "START_PPP", -1, std::nullopt, nullptr, nullptr, -1, 0,
     std::nullopt, -1, std::nullopt},
    {1, "dhclient", 0, "/etc/vigilerd/dhclient", "START_DHCLIENT", -1, std::nullopt, nullptr,
     nullptr, -1, 0, std::nullopt, -1, std::nullopt},
    {2, "ipsec", 0, "/etc/vigilerd/ipsec", "START_IPSEC", -1, std::nullopt, nullptr, nullptr, -1, 0,
     std::nullopt, -1, std::nullopt},
    {3, "dhcpd_lan", 0, "/etc/vigilerd/dhcpd_lan", "START_DHCPD_LAN", -1, std::nullopt, nullptr,
     nullptr, -1, 0, std::nullopt, -1, std::nullopt},
    {4, "named", 0, "/etc/vigilerd/named", "START_NAMED", -1, std::nullopt, nullptr, nullptr, -1, 0,
     std::nullopt, -1, std::nullopt},
    {5, "ntpd", 0, "/etc/vigilerd/ntpd", "START_NTPD", -1, std::nullopt, nullptr, nullptr, -1, 0,
     std::nullopt, -1, std::nullopt},
    {6, "ntp", 0, "/etc/vigilerd/ntp", "START_NTP", -1, std::nullopt, nullptr, nullptr, -1, 0,
     std::nullopt, -1, std::nullopt},
    {7, "httpd", 0, "/etc/vigilerd/httpd", "START_HTTPD", -1, std::nullopt, nullptr, nullptr, -1, 0,
     std::nullopt, -1, std::nullopt},
    {8, "voice", 0, "/etc/vigilerd/voice", "START_VOICE", -1, std::nullopt, nullptr, nullptr, -1, 0,
     std::nullopt, -1, std::nullopt},
    {9, "vpnd", 0, "/etc/vigilerd/vpnd", "START_VPND", -1, std::nullopt, nullptr, nullptr, -1, 0,
     std::nullopt, -1, std::nullopt},
    {10, "ipsecd", 0, "/etc/vigilerd/ipsecd", "START_IPSECD", -1, std::nullopt, nullptr, nullptr,
     -1, 0, std::nullopt, -1, std::nullopt},
    {11, "stats", 0, "/etc/vigilerd/stats", "START_STATS", -1, std::nullopt, nullptr, nullptr, -1,
     0, std::nullopt, -1, std::nullopt},
    {12, "tftpd", 0, "/etc/vigilerd/tftpd", "START_TFTPD", -1, std::nullopt, nullptr, nullptr, -1,
     0, std::nullopt, -1, std::nullopt},
    {kSentinelId, "invalid", -1, nullptr, nullptr, -1, std::nullopt, nullptr, nullptr, -1, 0,
     std::nullopt, -1, std::nullopt},
};

void ResetServiceTable() {
    // All fourteen rows, the sentinel included: its values differ only in `enabled`.
    for (DaemonConfig& row : daemonConfigs) {
        row.enabled = row.id == kSentinelId ? -1 : 0;
        row.lastReturn = -1;
        row.script.reset();
        DeleteGoodCmdStructure(row.goodReturns);
        row.goodReturns = nullptr;
        DeleteFailCmdStructure(row.failCommands);
        row.failCommands = nullptr;
        row.maxFail = -1;
        row.currentFails = 0;
        row.escalationCmd.reset();
        row.failsForEscalation = -1;
        row.dependsOn.reset();
        row.timeout = 0;
    }
}
