// Dependencies of the real daemon, one service per form: the WAN and wireless links of the
// box, and rc.conf values, checked afresh in every pass.
#include <signal.h>

#include "scenario.h"

namespace e2e::scenario {

TEST_F(BoxTest, EveryDependencyForm) {
    const std::string kLong = "12345678901234567890123456789012345678901234567890";
    // Service, DEPENDS_ON, and the result with an address on wan0 only, then on wlan0 only:
    // R the script runs, W it waits, U an unknown form, M a malformed "variable" text.
    const std::vector<std::array<std::string, 3>> rows = {
        {"ppp", "wanlink", "RW"},
        {"dhclient", "wanlink of the uplink", "RW"},  // the rest is ignored
        {"ipsec", "WANLINK", "UU"},
        {"dhcpd_lan", "wlanlink", "WR"},
        {"named", "variable DEP_EXACT true", "RR"},
        {"ntpd", "variable DEP_BLANK true", "WW"},  // rc.conf: "true "
        {"ntp", "variable DEP_TWO a b", "RR"},      // the value runs to the end
        {"httpd", "variable DEP_ABSENT true", "WW"},
        {"voice", "variable DEP_EXACT", "MM"},
        {"vpnd", "", "UU"},
        {"ipsecd", "variable DEP_LONG " + kLong, "MM"},
        {"stats", "-", "RR"},                        // no DEPENDS_ON
        {"tftpd", "variable DEP_CASE true", "WW"}};  // rc.conf: TRUE
    std::string names;
    for (const auto& [name, dependsOn, results] : rows) {
        names += name + "|";
        std::string key = dependsOn == "-" ? "" : "DEPENDS_ON=\"" + dependsOn + "\"\n";
        box.Place("/etc/vigilerd/" + name, Service(name, "MAX_FAIL=1\n" + key));
    }
    box.Place("/etc/sysconfig/rc.conf", RcConf(names, "DEP_EXACT=true\nDEP_BLANK=\"true \"\n"
                                                      "DEP_TWO=a b\nDEP_CASE=TRUE\nDEP_LONG=" + kLong));
    box.Place("/etc/vigilerd.conf", "CHECK_INTERVAL=0\n");
    box.Prepare("ip addr add 10.77.0.1/24 dev wan0").Start();
    ASSERT_TRUE(WaitForStartUp(box));
    for (int phase = 0; phase < 3; ++phase) {
        std::vector<Lines> lines;
        for (auto [name, dependsOn, results] : rows) {
            results += results[1];
            Lines waits = {"Debug: Dependancy not solved: /etc/vigilerd/scripts/" + name +
                           ". continue."};
            if (results[phase] != 'W' && results[phase] != 'R')
                waits.insert(waits.begin(), (results[phase] == 'U' ? "Error: Error: Unknown"
                                                                   : "Error: Malformed") +
                                                std::string(" dependancy ") + dependsOn);
            lines.push_back(results[phase] == 'R' ? Call(name, 0) : waits);
        }
        if (phase == 1)
            box.Exec("ip addr del 10.77.0.1/24 dev wan0; ip addr add 10.78.0.1/24 dev wlan0");
        // The last phase: an empty VIRT_WAN, read again when hibernation ends.
        ASSERT_EQ(phase < 2 ? 0 : box.Exec("h() { kill -HUP " + std::to_string(box.Pid()) + "; until "
                               "grep -q \"mode has been $1\" /var/log/vigilerd.log; do sleep 0.1; done; }; "
                               "echo VIRT_WAN= >/run/interfaces; touch " + kMarker + "; h set; rm " +
                               kMarker + "; h reset").code, 0);
        box.Signal(SIGALRM);
        EXPECT_EQ(WaitForPasses(box, phase + 1).back(), Pass(lines)) << "phase " << phase;
    }
}

}  // namespace e2e::scenario
