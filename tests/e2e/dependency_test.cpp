// End-to-end dependency checks of the real daemon: link conditions against the box's own
// interfaces and addresses, rc.conf conditions read afresh, and texts of no known form.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "box.h"
#include "scenario.h"

namespace e2e {
namespace {

using namespace scenario;
using std::chrono::seconds;
using ::testing::ElementsAreArray;

std::string DependentService(const std::string& name, const std::string& dependsOn) {
    return "[basic]\nSCRIPT=/etc/vigilerd/scripts/" + name + "\nDEPENDS_ON=" + dependsOn +
           "\nGOOD_RET=0,\nMAX_FAIL=1\n";
}

// The lines one row gives in a pass: run (and good), or skipped by its dependency, with the
// error line of a text that is not understood before it.
std::vector<std::string> Ran(const std::string& name) {
    return {"Debug: Calling /etc/vigilerd/scripts/" + name + " status", "Debug: Return value: 0"};
}
std::vector<std::string> Skipped(const std::string& name, const std::string& error = "") {
    std::vector<std::string> lines;
    if (!error.empty()) {
        lines.push_back(error);
    }
    lines.push_back("Debug: Dependancy not solved: /etc/vigilerd/scripts/" + name + ". continue.");
    return lines;
}

std::vector<std::string> Pass(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::string> pass = {kStarted};
    for (const std::vector<std::string>& row : rows) {
        pass.insert(pass.end(), row.begin(), row.end());
    }
    pass.push_back(kTerminated);
    return pass;
}

class DependenciesInBox : public BoxTest {};

// Thirteen rows, thirteen conditions, one pass each time the box changes: addresses come and
// go on the WAN and wireless links, and rc.conf is edited between passes.
TEST_F(DependenciesInBox, EveryFormAgainstTheLinksAndRcConf) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"ppp", "wanlink"},
        {"dhclient", "wanlink of the uplink"},  // whatever follows the prefix is ignored
        {"ipsec", "WANLINK"},
        {"dhcpd_lan", "wlanlink"},
        {"named", "variable DEP_EXACT true"},
        {"ntpd", "variable DEP_BLANK true"},      // rc.conf: "true " with a trailing blank
        {"ntp", "variable DEP_CAPS true"},        // rc.conf: TRUE, later true
        {"httpd", "variable DEP_ABSENT true"},    // no such key
        {"voice", "\"variable DEP_EMPTY \""},     // empty value: only an empty entry will do
        {"vpnd", "variable  DEP_EXACT true"},     // two blanks: the key is empty
        {"ipsecd", "variable DEP_SPACED  true"},  // the value is " true", blank included
        {"stats", "\"\""},                        // an empty text is no known form
        {"tftpd", "variable DEP_EXACT"},          // no value at all
    };
    for (const auto& row : rows) {
        box.Place("/etc/vigilerd/" + row.first, DependentService(row.first, row.second));
    }
    const std::string switches =
        "START_PPP=true\nSTART_DHCLIENT=true\nSTART_IPSEC=true\n"
        "START_DHCPD_LAN=true\nSTART_NAMED=true\nSTART_NTPD=true\n"
        "START_NTP=true\nSTART_HTTPD=true\nSTART_VOICE=true\n"
        "START_VPND=true\nSTART_IPSECD=true\nSTART_STATS=true\n"
        "START_TFTPD=true\n";
    box.Place("/etc/sysconfig/rc.conf",
              "START_VIGILERD=true\n" + switches +
                  "DEP_EXACT=true\nDEP_BLANK=\"true \"\nDEP_CAPS=TRUE\nDEP_EMPTY=\n"
                  "DEP_SPACED=\" true\"\n");
    box.Start();

    const std::string wanlinkError = "Error: Error: Unknown dependancy WANLINK";
    const std::string emptyError = "Error: Error: Unknown dependancy ";
    const std::string malformed = "Error: Malformed dependancy variable DEP_EXACT";

    // No addresses yet: of the links, none is up.
    std::vector<std::string> first = NextPass(box, 0);
    EXPECT_THAT(
        first,
        ElementsAreArray(Pass({Skipped("ppp"), Skipped("dhclient"), Skipped("ipsec", wanlinkError),
                               Skipped("dhcpd_lan"), Ran("named"), Skipped("ntpd"), Skipped("ntp"),
                               Skipped("httpd"), Ran("voice"), Skipped("vpnd"), Ran("ipsecd"),
                               Skipped("stats", emptyError), Skipped("tftpd", malformed)})))
        << box.Dump();

    // Both links get an address; rc.conf now says true in small letters and has no DEP_EMPTY.
    for (const char* command :
         {"ip addr add 10.77.0.1/24 dev wan0", "ip addr add 10.78.0.1/24 dev wlan0"}) {
        ExecResult added = box.Exec(command);
        ASSERT_EQ(added.code, 0) << command << ": " << added.output;
    }
    box.Write("/etc/sysconfig/rc.conf",
              "START_VIGILERD=true\n" + switches +
                  "DEP_EXACT=true\nDEP_BLANK=\"true \"\nDEP_CAPS=true\nDEP_SPACED=\" true\"\n");
    std::vector<std::string> second = NextPass(box, MessageCount(box));
    EXPECT_THAT(
        second,
        ElementsAreArray(Pass({Ran("ppp"), Ran("dhclient"), Skipped("ipsec", wanlinkError),
                               Ran("dhcpd_lan"), Ran("named"), Skipped("ntpd"), Ran("ntp"),
                               Skipped("httpd"), Skipped("voice"), Skipped("vpnd"), Ran("ipsecd"),
                               Skipped("stats", emptyError), Skipped("tftpd", malformed)})))
        << box.Dump();

    // The WAN address goes again; the wireless link keeps its own.
    ExecResult flushed = box.Exec("ip addr flush dev wan0");
    ASSERT_EQ(flushed.code, 0) << flushed.output;
    std::vector<std::string> third = NextPass(box, MessageCount(box));
    EXPECT_THAT(
        third,
        ElementsAreArray(Pass({Skipped("ppp"), Skipped("dhclient"), Skipped("ipsec", wanlinkError),
                               Ran("dhcpd_lan"), Ran("named"), Skipped("ntpd"), Ran("ntp"),
                               Skipped("httpd"), Skipped("voice"), Skipped("vpnd"), Ran("ipsecd"),
                               Skipped("stats", emptyError), Skipped("tftpd", malformed)})))
        << box.Dump();
    // rc.conf was read once at start-up; the conditions read it on their own.
    EXPECT_EQ(box.Count("Info: (Re)reading rc.conf."), 1);
}

// The WAN name comes from the interface state file, read again on each resumption; without a
// WAN name, no link counts as up, the wireless one included.
TEST_F(DependenciesInBox, LinksFollowTheWanNameOfTheInterfaceStateFile) {
    box.Place("/etc/sysconfig/rc.conf", RcConf({"ppp", "dhclient", "httpd"}));
    box.Place("/etc/vigilerd/ppp", DependentService("ppp", "wanlink"));
    box.Place("/etc/vigilerd/dhclient", DependentService("dhclient", "wlanlink"));
    box.Place("/run/interfaces", "# no WAN interface known yet\n");
    box.Prepare("ip addr add 10.77.0.1/24 dev wan0 && ip addr add 10.78.0.1/24 dev wlan0");
    box.Start();

    // VIRT_WAN absent: both links count as down although both have addresses.
    EXPECT_THAT(NextPass(box, 0),
                ElementsAreArray(Pass({Skipped("ppp"), Skipped("dhclient"), Ran("httpd")})))
        << box.Dump();

    // VIRT_WAN empty: a known, empty name, which names no interface; the wireless link is up.
    box.Write("/run/interfaces", "VIRT_WAN=\n");
    int from = Reread(box);
    EXPECT_THAT(NextPass(box, from),
                ElementsAreArray(Pass({Skipped("ppp"), Ran("dhclient"), Ran("httpd")})))
        << box.Dump();

    // The file gone: its error at the re-reading, and no WAN name again.
    box.Remove("/run/interfaces");
    from = Reread(box);
    EXPECT_EQ(box.WaitForMessage("Error: failed to open /var/run/interfaces", kWait, from), from);
    EXPECT_THAT(NextPass(box, from),
                ElementsAreArray(Pass({Skipped("ppp"), Skipped("dhclient"), Ran("httpd")})))
        << box.Dump();

    // VIRT_WAN names the WAN link: both links are up.
    box.Write("/run/interfaces", "VIRT_WAN=wan0\n");
    from = Reread(box);
    EXPECT_THAT(NextPass(box, from),
                ElementsAreArray(Pass({Ran("ppp"), Ran("dhclient"), Ran("httpd")})))
        << box.Dump();

    // A name the kernel does not list.
    box.Write("/run/interfaces", "VIRT_WAN=wan9\n");
    from = Reread(box);
    EXPECT_THAT(NextPass(box, from),
                ElementsAreArray(Pass({Skipped("ppp"), Ran("dhclient"), Ran("httpd")})))
        << box.Dump();
    EXPECT_EQ(box.Stderr().find("SIOCGIFCONF"), std::string::npos);
}

}  // namespace
}  // namespace e2e
