// End-to-end reading of the daemon's settings file: the check interval and the four limits,
// and what start-up does without them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "box.h"

namespace e2e {
namespace {

using std::chrono::seconds;
using ::testing::ElementsAre;

constexpr const char* kStarted = "Debug: Thread CheckAllStati started";
constexpr const char* kRcPass = "Info: (Re)reading rc.conf.";
constexpr const char* kLimits =
    "FREE_LIMIT_BBRAM=10\nCRITICAL_LIMIT_BBRAM=5\nFREE_LIMIT_CONFIG=10\n"
    "CRITICAL_LIMIT_CONFIG=5\n";

// The messages logged after "Info: started".
std::vector<std::string> AfterStart(const Box& box) {
    std::vector<std::string> all = box.Messages();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == "Info: started") {
            return std::vector<std::string>(all.begin() + i + 1, all.end());
        }
    }
    return {};
}

class Settings : public BoxTest {
  protected:
    // Waits long enough that a running timer would have ticked several times.
    static void LookForAWhile() { std::this_thread::sleep_for(seconds(3)); }
};

TEST_F(Settings, AllFiveKeysStartMonitoringSilently) {
    box.Place("/etc/vigilerd.conf", std::string("CHECK_INTERVAL=1\n") + kLimits);
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kStarted, 2)) << box.Dump();
    std::vector<std::string> after = AfterStart(box);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.front(), kRcPass);
    for (const std::string& message : after) {
        EXPECT_EQ(message.find("Error: failed"), std::string::npos) << message;
    }
}

TEST_F(Settings, WithoutIntervalNothingIsMonitoredButSignalsStillWork) {
    box.Place("/etc/vigilerd.conf", kLimits);
    box.Start();
    ASSERT_GE(box.WaitForMessage("Error: failed to get the value from CHECK_INTERVAL"), 0)
        << box.Dump();
    LookForAWhile();
    EXPECT_THAT(AfterStart(box), ElementsAre("Error: failed to get the value from CHECK_INTERVAL"));
    box.Signal(SIGHUP);
    EXPECT_GE(box.WaitForMessage("Info: Wait mode has been set (40 seconds)"), 0) << box.Dump();
    box.Signal(SIGTERM);
    EXPECT_GE(box.WaitForMessage("Info: got sleep signal. Ignoring all signals and going to sleep"),
              0);
    EXPECT_TRUE(box.Alive());
}

TEST_F(Settings, IntervalMinusOneIsNoIntervalWithoutAMessage) {
    box.Place("/etc/vigilerd.conf", std::string("CHECK_INTERVAL=-1\n") + kLimits);
    box.Start();
    ASSERT_GE(box.WaitForMessage("Info: started"), 0) << box.Dump();
    LookForAWhile();
    EXPECT_THAT(AfterStart(box), ElementsAre());
    EXPECT_TRUE(box.Alive());
    EXPECT_TRUE(box.Exists("/var/run/vigilerd.pid"));
}

TEST_F(Settings, IntervalZeroCompletesStartUpButNeverTicks) {
    box.Place("/etc/vigilerd.conf", std::string("CHECK_INTERVAL=0\n") + kLimits);
    box.Start();
    ASSERT_GE(box.WaitForMessage(kRcPass), 0) << box.Dump();
    LookForAWhile();
    EXPECT_EQ(box.Count(kStarted), 0);
    // A tick from outside runs one pass, which leaves the timer disarmed again.
    box.Signal(SIGALRM);
    ASSERT_TRUE(box.WaitForCount("Debug: Thread CheckAllStati terminated", 1)) << box.Dump();
    LookForAWhile();
    EXPECT_EQ(box.Count(kStarted), 1);
}

TEST_F(Settings, NoKeyAtAllLogsFiveLinesInOrder) {
    box.Place("/etc/vigilerd.conf", "# nothing set\n");
    box.Start();
    ASSERT_GE(box.WaitForMessage("Error: failed to get the value from CRITICAL_LIMIT_CONFIG"), 0)
        << box.Dump();
    LookForAWhile();
    EXPECT_THAT(AfterStart(box),
                ElementsAre("Error: failed to get the value from CHECK_INTERVAL",
                            "Error: failed to get the value from FREE_LIMIT_BBRAM",
                            "Error: failed to get the value from CRITICAL_LIMIT_BBRAM",
                            "Error: failed to get the value from FREEL_LIMIT_CONFIG",
                            "Error: failed to get the value from CRITICAL_LIMIT_CONFIG"));
}

TEST_F(Settings, MissingFileSendsTheDaemonToSleep) {
    box.Unplace("/etc/vigilerd.conf");
    box.Start();
    ASSERT_GE(box.WaitForMessage("Error: failed to open /etc/vigilerd.conf, going to sleep"), 0)
        << box.Dump();
    box.Signal(SIGHUP);
    box.Signal(SIGALRM);
    LookForAWhile();
    EXPECT_THAT(AfterStart(box),
                ElementsAre("Error: failed to open /etc/vigilerd.conf, going to sleep"));
    EXPECT_TRUE(box.Alive());
    EXPECT_TRUE(box.Exists("/var/run/vigilerd.pid"));
}

}  // namespace
}  // namespace e2e
