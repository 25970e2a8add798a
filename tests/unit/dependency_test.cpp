// Dependency conditions: link tests against real interfaces of the test's own network
// namespace, rc.conf conditions against the real rc.conf path, and the malformed forms.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "config/rc_conf_reader.h"
#include "core/log.h"
#include "monitor/dependency.h"
#include "test_support.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

constexpr const char* kRcConf = "/etc/sysconfig/rc.conf";
constexpr const char* kInterfaces = "/var/run/interfaces";

// The longest key a "variable" condition may name.
std::string Key49() {
    return "KEY_" + std::string(45, 'K');
}

// Makes the WAN name known (or unknown) the way the daemon learns it.
void SetWanFile(const char* content) {
    if (content == nullptr) {
        test::RemovePath(kInterfaces);
    } else {
        test::WriteFile(kInterfaces, content);
    }
    test::LogCapture quiet;  // the rc.conf pass has lines of its own, not looked at here
    ReadRCConf();
}

void AddInterface(const std::string& name) {
    ASSERT_EQ(test::Shell("ip link add " + name + " type veth peer name " + name +
                          "p && ip link set " + name + " up"),
              0)
        << name;
}

void DeleteInterface(const std::string& name) {
    test::Shell("ip link del " + name + " 2>/dev/null");
}

class LinkDependency : public testing::Test {
  protected:
    void SetUp() override {
        test::ResetDaemonState();
        test::WriteFile(kRcConf, "START_VIGILERD=true\n");
        // Several interfaces with addresses ahead of the one asked for, so each record of the
        // kernel's list must be read at its right place.
        for (const char* name : {"eth7", "eth8", "wan0", "wlan0"}) {
            AddInterface(name);
        }
        ASSERT_EQ(test::Shell("ip addr add 10.71.0.1/24 dev eth7 && ip addr add 10.71.1.1/24 dev "
                              "eth7 && ip addr add 10.72.0.1/24 dev "
                              "eth8 && ip addr add 10.72.1.1/24 dev eth8"),
                  0);
    }
    void TearDown() override {
        for (const char* name : {"eth7", "eth8", "wan0", "wlan0"}) {
            DeleteInterface(name);
        }
        test::RemovePath(kInterfaces);
        test::ResetDaemonState();
    }
};

TEST_F(LinkDependency, WanLinkFollowsTheWanAddress) {
    SetWanFile("VIRT_WAN=wan0\n");
    test::LogCapture log;

    EXPECT_EQ(CheckDepend("wanlink"), 0) << "up, but no address yet";
    ASSERT_EQ(test::Shell("ip addr add 10.77.0.1/24 dev wan0"), 0);
    EXPECT_EQ(CheckDepend("wanlink"), 1);
    EXPECT_EQ(HasIPAddress("wan0"), 1);
    // Whatever follows the prefix is ignored.
    EXPECT_EQ(CheckDepend("wanlink is up please"), 1);
    EXPECT_EQ(CheckDepend("wanlinkX"), 1);

    ASSERT_EQ(test::Shell("ip addr flush dev wan0"), 0);
    EXPECT_EQ(CheckDepend("wanlink"), 0) << "address removed again";
    EXPECT_THAT(log.Messages(), IsEmpty());
}

TEST_F(LinkDependency, AllZeroAddressCountsAsNoAddress) {
    SetWanFile("VIRT_WAN=wan0\n");
    // The kernel takes 0.0.0.0 as "no address"; the link still does not count as up.
    test::Shell("ip addr add 0.0.0.0/24 dev wan0 2>/dev/null");
    EXPECT_EQ(CheckDepend("wanlink"), 0);
    EXPECT_EQ(HasIPAddress("wan0"), 0);
}

TEST_F(LinkDependency, WanNameUnknownEmptyOrUnreadable) {
    ASSERT_EQ(
        test::Shell("ip addr add 10.77.0.1/24 dev wan0 && ip addr add 10.78.0.1/24 dev wlan0"), 0);
    test::LogCapture log;

    SetWanFile("OTHER=wan0\n");  // VIRT_WAN absent
    EXPECT_EQ(CheckDepend("wanlink"), 0);
    SetWanFile(nullptr);  // the interface state file cannot be opened
    EXPECT_EQ(CheckDepend("wanlink"), 0);
    SetWanFile("VIRT_WAN=\n");  // present but empty: names no interface
    EXPECT_EQ(CheckDepend("wanlink"), 0);
    SetWanFile("VIRT_WAN=eth9\n");  // an interface the kernel does not know
    EXPECT_EQ(CheckDepend("wanlink"), 0);
    SetWanFile("VIRT_WAN=wan0\n");
    EXPECT_EQ(CheckDepend("wanlink"), 1);
    EXPECT_THAT(log.Messages(), IsEmpty());
}

TEST_F(LinkDependency, WirelessLinkNeedsAKnownWanName) {
    ASSERT_EQ(test::Shell("ip addr add 10.78.0.1/24 dev wlan0"), 0);

    SetWanFile(nullptr);
    EXPECT_EQ(CheckDepend("wlanlink"), 0) << "wlan0 has an address, but no WAN name is known";
    EXPECT_EQ(HasIPAddress("wlan0"), 0);

    // The WAN link itself need not be up: only its name must be known.
    SetWanFile("VIRT_WAN=wan0\n");
    EXPECT_EQ(CheckDepend("wlanlink"), 1);
    EXPECT_EQ(CheckDepend("wlanlink0"), 1);
    EXPECT_EQ(HasIPAddress("eth8"), 1);
    EXPECT_EQ(HasIPAddress("eth"), 0) << "names compare whole";
    EXPECT_EQ(HasIPAddress("lo"), 1);

    ASSERT_EQ(test::Shell("ip addr flush dev wlan0"), 0);
    EXPECT_EQ(CheckDepend("wlanlink"), 0);
}

TEST_F(LinkDependency, SocketsAreNotLeaked) {
    SetWanFile("VIRT_WAN=wan0\n");
    ASSERT_EQ(test::Shell("ip addr add 10.77.0.1/24 dev wan0"), 0);
    int before = test::Shell("exit $(ls /proc/" + std::to_string(getpid()) + "/fd | wc -l)");
    for (int i = 0; i < 200; ++i) {
        HasIPAddress("wan0");
        HasIPAddress("nosuch0");
    }
    int after = test::Shell("exit $(ls /proc/" + std::to_string(getpid()) + "/fd | wc -l)");
    EXPECT_EQ(after, before);
}

class VariableDependency : public testing::Test {
  protected:
    void SetUp() override {
        test::ResetDaemonState();
        std::string content =
            "START_VIGILERD=true\n"
            "START_PPP=true\n"
            "TRAILING=\"true \"\n"
            "CAPITALS=TRUE\n"
            "EMPTY=\n";
        content += Key49() + "=yes\n";
        content += "LONG_VALUE=" + std::string(49, 'v') + "\n";
        test::WriteFile(kRcConf, content);
    }
    void TearDown() override { test::ResetDaemonState(); }
};

TEST_F(VariableDependency, ValueMustMatchExactly) {
    struct Case {
        std::string text;
        int expected;
    };
    const std::vector<Case> cases = {
        {"variable START_PPP true", 1},
        {"variable START_PPP false", 0},
        {"variable START_PPP True", 0},
        {"variable START_PPP true ", 0},  // the given value has a trailing blank
        {"variable START_PPP ", 0},       // empty value, non-empty entry
        {"variable TRAILING true", 0},    // the entry has a trailing blank
        {"variable TRAILING true ", 1},   // both have it
        {"variable CAPITALS true", 0},    // the entry differs in case
        {"variable start_ppp true", 0},   // keys differ in case too
        {"variable ABSENT true", 0},      // no such key: just not solved
        {"variable ABSENT ", 0},          // an absent key is not an empty value
        {"variable EMPTY ", 1},           // nothing after the second blank
        {"variable EMPTY x", 0},
        {"variable  START_PPP true", 0},  // two blanks: empty key, value "START_PPP true"
        {"variable START_PPP  true", 0},  // value " true"
        {"variableX START_PPP true", 1},  // recognised by its first eight characters
        {"variable " + Key49() + " yes", 1},
        {"variable LONG_VALUE " + std::string(49, 'v'), 1},
    };
    test::LogCapture log;
    for (const Case& c : cases) {
        EXPECT_EQ(CheckDepend(c.text.c_str()), c.expected) << '"' << c.text << '"';
    }
    EXPECT_THAT(log.Messages(), IsEmpty());
}

TEST_F(VariableDependency, RcConfIsReadAfreshAtEveryCall) {
    EXPECT_EQ(CheckDepend("variable START_PPP true"), 1);
    test::WriteFile(kRcConf, "START_PPP=false\n");
    EXPECT_EQ(CheckDepend("variable START_PPP true"), 0);
    EXPECT_EQ(CheckDepend("variable START_PPP false"), 1);
}

TEST_F(VariableDependency, MissingRcConfIsNotSolved) {
    test::RemovePath(kRcConf);
    test::LogCapture log;
    EXPECT_EQ(CheckDepend("variable START_PPP true"), 0);
    EXPECT_THAT(log.Messages(), ElementsAre("Error: failed to open /etc/sysconfig/rc.conf\n"));
}

TEST_F(VariableDependency, MalformedTextsAreNotSolvedAndNamed) {
    const std::vector<std::string> texts = {
        "variable",
        "variable START_PPP",
        "variable " + std::string(50, 'K') + " true",
        "variable LONG_VALUE " + std::string(50, 'v'),
    };
    for (const std::string& text : texts) {
        test::LogCapture log;
        EXPECT_EQ(CheckDepend(text.c_str()), 0) << text;
        EXPECT_THAT(log.Messages(), ElementsAre("Error: Malformed dependancy " + text + "\n"));
    }
}

TEST(SplitVariableDependency, KeyBetweenTheFirstTwoBlanksValueAfter) {
    struct Case {
        std::string text;
        bool split;
        std::string key;
        std::string value;
    };
    const std::vector<Case> cases = {
        {"variable START_PPP true", true, "START_PPP", "true"},
        {"variable START_PPP true with blanks ", true, "START_PPP", "true with blanks "},
        {"variable  START_PPP", true, "", "START_PPP"},
        {"variable START_PPP ", true, "START_PPP", ""},
        {"variableX K V", true, "K", "V"},
        {" K V", true, "K", "V"},  // the first blank need not follow "variable"
        {"variable " + Key49() + " " + std::string(49, 'v'), true, Key49(), std::string(49, 'v')},
        {"variable", false, "", ""},
        {"variable START_PPP", false, "", ""},
        {"variable " + std::string(50, 'K') + " v", false, "", ""},
        {"variable K " + std::string(50, 'v'), false, "", ""},
    };
    for (const Case& c : cases) {
        std::string key = "before";
        std::string value = "before";
        EXPECT_EQ(SplitVariableDependency(c.text.c_str(), key, value), c.split) << c.text;
        // A text that does not split leaves both outputs as they were.
        EXPECT_EQ(key, c.split ? c.key : "before") << c.text;
        EXPECT_EQ(value, c.split ? c.value : "before") << c.text;
    }
}

TEST_F(VariableDependency, UnknownFormsAreNamedWhole) {
    const std::vector<std::string> texts = {"",     "WANLINK",  "Variable START_PPP true",
                                            "wlan", " wanlink", "vpnlink up"};
    for (const std::string& text : texts) {
        test::LogCapture log;
        EXPECT_EQ(CheckDepend(text.c_str()), 0) << '"' << text << '"';
        EXPECT_THAT(log.Messages(), ElementsAre("Error: Error: Unknown dependancy " + text + "\n"));
    }
}

}  // namespace
