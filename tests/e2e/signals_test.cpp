// The pause after SIGHUP of the real daemon: its 40 seconds, started over by a further SIGHUP,
// and the rc.conf pass and the checks that follow it.
#include <signal.h>

#include <thread>

#include "scenario.h"

namespace e2e::scenario {
using Clock = std::chrono::steady_clock;
constexpr const char* kWaitSet = "Info: Wait mode has been set (40 seconds)";
constexpr const char* kNtp = "Debug: Calling /etc/vigilerd/scripts/ntp status";

// A SIGHUP pauses the checks for 40 seconds, a further one starts the 40 seconds over; then
// rc.conf is read once and the checks resume.
class Pause : public BoxTest, public ::testing::WithParamInterface<int> {};

TEST_P(Pause, EndsFortySecondsAfterTheLastHangUp) {
    const int second = GetParam();  // seconds from the first SIGHUP to a second one; 0: none
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1));
    int before = static_cast<int>(box.Messages().size());
    Clock::time_point first = Clock::now();
    box.Signal(SIGHUP);
    ASSERT_GE(box.WaitForMessage(kWaitSet, kWait, before), 0);
    if (second > 0) {
        std::this_thread::sleep_until(first + seconds(second));  // the scenario's own pace
        EXPECT_EQ(box.WaitForMessage(kRcPass, milliseconds(0), before), -1);
        box.Signal(SIGHUP);
    }
    int pass = box.WaitForMessage(kRcPass, seconds(60), before);
    double at = std::chrono::duration<double>(Clock::now() - first).count();
    ASSERT_GT(pass, before);
    EXPECT_GT(at, second + 39.0);
    EXPECT_LT(at, second + 43.0);
    ASSERT_GT(box.WaitForMessage(kNtp, seconds(5), pass), pass);  // checks again
    Lines log = box.Messages();
    EXPECT_EQ(std::count(log.begin() + before, log.begin() + pass, kStarted), 0);
    EXPECT_EQ(std::count(log.begin() + before, log.end(), kRcPass), 1);
}

INSTANTIATE_TEST_SUITE_P(Box, Pause, ::testing::Values(0, 12));

}  // namespace e2e::scenario
