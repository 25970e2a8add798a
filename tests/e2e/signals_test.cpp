// Run modes of the real daemon: hibernation and the pause after SIGHUP, the ticks they refuse,
// and the rc.conf pass and the checks that follow them.
#include <signal.h>

#include <thread>

#include "scenario.h"

namespace e2e {
namespace {

using namespace scenario;
using Clock = std::chrono::steady_clock;
constexpr const char* kWaitSet = "Info: Wait mode has been set (40 seconds)";
constexpr const char* kNtp = "Debug: Calling /etc/vigilerd/scripts/ntp status";

TEST_F(BoxTest, HibernateThenWait) {
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();
    box.Write(kMarker, "");
    box.Signal(SIGHUP);
    int set = box.WaitForMessage("Info: Hibernate mode has been set");
    int tick =
        box.WaitForMessage("Info: scheduled for test loop but hibernate mode is set", kWait, set);
    // A further refused tick: any pass that was running has ended by then.
    int later = box.WaitForMessage("Info: scheduled for test loop but hibernate mode is set", kWait,
                                   tick + 1);
    ASSERT_GT(set, 0) << box.Dump();
    ASSERT_GT(later, tick) << box.Dump();
    EXPECT_EQ(box.Messages()[set - 1], "Debug: got signal: 1");
    EXPECT_EQ(box.Messages()[tick - 1], kTick);
    box.Remove(kMarker);
    box.Signal(SIGHUP);
    int reset = box.WaitForMessage("Info: Hibernate mode has been reset", kWait, later);
    int resumed = box.WaitForMessage(kNtp, kWait, reset);
    ASSERT_GT(resumed, reset) << box.Dump();
    Lines log = box.Messages();
    EXPECT_EQ(std::count(log.begin() + tick, log.begin() + reset, kStarted), 0);
    EXPECT_EQ(log[reset + 1], kRcPass);
    box.Signal(SIGHUP);
    int wait = box.WaitForMessage(kWaitSet, kWait, resumed);
    int refused =
        box.WaitForMessage("Info: scheduled for test loop but waiting mode is set", kWait, wait);
    ASSERT_GT(refused, wait) << box.Dump();
    EXPECT_EQ(box.Messages()[refused - 1], kTick);
}

// A SIGHUP pauses the checks for 40 seconds, a further one starts the 40 seconds over; then
// rc.conf is read once and the checks resume.
class Pause : public BoxTest, public ::testing::WithParamInterface<int> {};

TEST_P(Pause, EndsFortySecondsAfterTheLastHangUp) {
    const int second = GetParam();  // seconds from the first SIGHUP to a second one; 0: none
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();
    int before = static_cast<int>(box.Messages().size());
    Clock::time_point first = Clock::now();
    box.Signal(SIGHUP);
    ASSERT_GE(box.WaitForMessage(kWaitSet, kWait, before), 0) << box.Dump();
    if (second > 0) {
        std::this_thread::sleep_until(first + seconds(second));  // the scenario's own pace
        EXPECT_EQ(box.WaitForMessage(kRcPass, milliseconds(0), before), -1);
        box.Signal(SIGHUP);
    }
    int pass = box.WaitForMessage(kRcPass, seconds(60), before);
    double at = std::chrono::duration<double>(Clock::now() - first).count();
    ASSERT_GT(pass, before) << box.Dump();
    EXPECT_GT(at, second + 39.0);
    EXPECT_LT(at, second + 43.0);
    ASSERT_GT(box.WaitForMessage(kNtp, seconds(5), pass), pass) << box.Dump();  // checks again
    Lines log = box.Messages();
    EXPECT_EQ(std::count(log.begin() + before, log.begin() + pass, kStarted), 0);
    EXPECT_EQ(std::count(log.begin() + before, log.end(), kRcPass), 1);
}

INSTANTIATE_TEST_SUITE_P(Box, Pause, ::testing::Values(0, 12));

}  // namespace
}  // namespace e2e
