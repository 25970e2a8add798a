// The signal reactions and run modes, driven directly on the test thread: tick, hibernate,
// wait, the end of a wait, sleeping for good, and the timer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "config/service_table.h"
#include "core/daemon.h"
#include "core/log.h"
#include "core/run_modes.h"
#include "core/signals.h"
#include "core/timer.h"
#include "test_support.h"

using testing::ElementsAre;

namespace {

bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class RunModes : public testing::Test {
  protected:
    void SetUp() override {
        test::ResetDaemonState();
        test::RemovePath(kHibernateMarker);
        test::WriteFile("/etc/sysconfig/rc.conf", "START_VIGILERD=true\n");
        test::WriteFile("/var/run/interfaces", "VIRT_WAN=wan0\n");
    }
    void TearDown() override {
        // Let a wait thread started by a test end before the next test resets the flags. A
        // thread that starts only now sets its own 40 s, so the shortening is repeated.
        WaitUntil(
            [] {
                waitingTime = 0;
                return waitingRunning == 0 && checkRunning == 0;
            },
            5000);
        SetTimer(0);
        test::RemovePath(kHibernateMarker);
        test::ResetDaemonState();
    }
    // Ends a running wait quickly instead of after 40 seconds. The wait thread sets its own
    // 40 s when it starts, which may be after the signal reaction returned: shorten the wait
    // only once the thread has begun counting down.
    static void EndWaitSoon() {
        ASSERT_TRUE(WaitUntil([] { return waitingTime < kWaitSeconds; }, 5000));
        waitingTime = 1;
    }
    static bool WaitEnded() {
        return WaitUntil([] { return waitingRunning == 0; }, 5000);
    }
};

TEST_F(RunModes, TickWhileHibernatingOrWaitingOnlyLogs) {
    test::LogCapture log;
    hibernateMode = 1;
    SignalHandler(SIGALRM);
    hibernateMode = 0;
    waitingRunning = 1;
    SignalHandler(SIGALRM);
    waitingRunning = 0;
    checkRunning = 1;  // a pass is running: the tick starts nothing and says nothing more
    SignalHandler(SIGALRM);
    checkRunning = 0;
    EXPECT_THAT(log.Messages(),
                ElementsAre("Debug: got signal: 14\n",
                            "Info: scheduled for test loop but hibernate mode is set\n",
                            "Debug: got signal: 14\n",
                            "Info: scheduled for test loop but waiting mode is set\n",
                            "Debug: got signal: 14\n"));
}

TEST_F(RunModes, TickStartsOnePassThatEndsAndRearmsTheTimer) {
    test::LogCapture log;
    poll = 7;
    SignalHandler(SIGALRM);
    ASSERT_TRUE(
        WaitUntil([&] { return log.Text().find("terminated") != std::string::npos; }, 5000));
    EXPECT_TRUE(WaitUntil([] { return checkRunning == 0; }, 1000));
    std::vector<std::string> messages = log.Messages();
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages.front(), "Debug: got signal: 14\n");
    EXPECT_EQ(messages[1], "Debug: Thread CheckAllStati started\n");
    EXPECT_EQ(messages.back(), "Debug: Thread CheckAllStati terminated\n");
    struct itimerval timer;
    getitimer(ITIMER_REAL, &timer);
    EXPECT_EQ(timer.it_interval.tv_sec, 7);
}

TEST_F(RunModes, TickBeforeTheConfigurationIsReadStartsNoPass) {
    test::LogCapture log;
    configurationRead = 0;
    SignalHandler(SIGALRM);
    EXPECT_EQ(checkRunning, 0);
    EXPECT_THAT(log.Messages(), ElementsAre("Debug: got signal: 14\n"));
}

TEST_F(RunModes, HibernateSetAgainAndReset) {
    test::LogCapture log;
    test::WriteFile(kHibernateMarker, "");
    SignalHandler(SIGHUP);
    EXPECT_EQ(hibernateMode, 1);
    EXPECT_EQ(stopChecks, 1);
    SignalHandler(SIGHUP);  // already on: the same line again, nothing else changes
    EXPECT_EQ(hibernateMode, 1);
    EXPECT_EQ(waitingRunning, 0);

    test::RemovePath(kHibernateMarker);
    SignalHandler(SIGHUP);
    EXPECT_EQ(hibernateMode, 0);
    EXPECT_EQ(stopChecks, 0);
    EXPECT_EQ(waitingRunning, 0);
    EXPECT_THAT(log.Messages(),
                ElementsAre("Debug: got signal: 1\n", "Info: Hibernate mode has been set\n",
                            "Debug: got signal: 1\n", "Info: Hibernate mode has been set\n",
                            "Debug: got signal: 1\n", "Info: Hibernate mode has been reset\n",
                            "Info: (Re)reading rc.conf.\n"));
}

TEST_F(RunModes, MarkerThatIsADirectoryOrDanglingLinkCounts) {
    // Only existence matters; a dangling link fails the test and counts as absent.
    test::LogCapture log;
    test::Shell(std::string("mkdir -p ") + kHibernateMarker);
    SignalHandler(SIGHUP);
    EXPECT_EQ(hibernateMode, 1);
    test::RemovePath(kHibernateMarker);
    test::Shell(std::string("ln -s /nonexistent ") + kHibernateMarker);
    SignalHandler(SIGHUP);
    EXPECT_EQ(hibernateMode, 0);
    EXPECT_THAT(log.Text(), testing::HasSubstr("Info: Hibernate mode has been reset\n"));
}

TEST_F(RunModes, WaitStartsRestartsAndEndsWithOneRcConfPass) {
    test::LogCapture log;
    SignalHandler(SIGHUP);
    EXPECT_EQ(waitingRunning, 1);
    EXPECT_EQ(stopChecks, 1);
    ASSERT_TRUE(WaitUntil([] { return waitingTime < kWaitSeconds; }, 3000));

    SignalHandler(SIGHUP);  // a second SIGHUP starts the running wait over
    EXPECT_GE(waitingTime, kWaitSeconds - 1);
    EXPECT_EQ(waitingRunning, 1);

    SignalHandler(SIGALRM);  // no pass while waiting
    EndWaitSoon();
    ASSERT_TRUE(WaitEnded());
    EXPECT_EQ(stopChecks, 0);
    EXPECT_THAT(log.Messages(),
                ElementsAre("Debug: got signal: 1\n", "Info: Wait mode has been set (40 seconds)\n",
                            "Debug: got signal: 1\n", "Info: Wait mode has been set (40 seconds)\n",
                            "Debug: got signal: 14\n",
                            "Info: scheduled for test loop but waiting mode is set\n",
                            "Info: (Re)reading rc.conf.\n"));
}

TEST_F(RunModes, MarkerCreatedDuringWaitKeepsHibernatingAfterIt) {
    test::LogCapture log;
    SignalHandler(SIGHUP);
    test::WriteFile(kHibernateMarker, "");
    SignalHandler(SIGHUP);
    EXPECT_EQ(hibernateMode, 1);
    EXPECT_EQ(waitingRunning, 1);
    EndWaitSoon();
    ASSERT_TRUE(WaitEnded());
    EXPECT_EQ(stopChecks, 0);
    EXPECT_EQ(hibernateMode, 1);
    SignalHandler(SIGALRM);
    EXPECT_EQ(checkRunning, 0);
    EXPECT_EQ(log.Messages().back(), "Info: scheduled for test loop but hibernate mode is set\n");
}

TEST_F(RunModes, MarkerRemovedWhileHibernatingAndWaitingReadsRcConfAtOnce) {
    test::LogCapture log;
    SignalHandler(SIGHUP);  // wait
    test::WriteFile(kHibernateMarker, "");
    SignalHandler(SIGHUP);  // hibernating while waiting
    test::RemovePath(kHibernateMarker);
    int32_t leftBefore = waitingTime;
    SignalHandler(SIGHUP);  // reset: rc.conf now, the wait goes on and is not restarted
    EXPECT_EQ(hibernateMode, 0);
    EXPECT_EQ(waitingRunning, 1);
    EXPECT_LE(waitingTime, leftBefore);
    std::vector<std::string> messages = log.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], "Info: Hibernate mode has been reset\n");
    EXPECT_EQ(messages.back(), "Info: (Re)reading rc.conf.\n");
    EndWaitSoon();
    ASSERT_TRUE(WaitEnded());
}

TEST_F(RunModes, SleepSignalRemovesPidFileClosesLogAndIgnoresAll) {
    test::LogCapture log;
    test::WriteFile(kPidPath, "123\n");
    SignalHandler(SIGTERM);
    EXPECT_FALSE(test::Exists(kPidPath));
    EXPECT_EQ(stopChecks, 1);
    EXPECT_EQ(asleepForGood, 1);
    EXPECT_EQ(signal(SIGCHLD, SIG_DFL), SIG_IGN);
    EXPECT_EQ(signal(SIGHUP, SIG_DFL), SIG_IGN);
    Report("Info: never written\n");
    EXPECT_THAT(log.Messages(),
                ElementsAre("Debug: got signal: 15\n",
                            "Info: got sleep signal. Ignoring all signals and going to sleep\n"));
}

TEST_F(RunModes, IgnoringAllWithoutALogIsHarmless) {
    CloseLog();
    IgnoreAllSignals(true);
    EXPECT_EQ(asleepForGood, 1);
    EXPECT_EQ(logFile, nullptr);
}

TEST(Timer, ArmsPeriodicAndDisarmsOnZeroOrNegative) {
    struct itimerval timer;
    SetTimer(30);
    getitimer(ITIMER_REAL, &timer);
    EXPECT_EQ(timer.it_interval.tv_sec, 30);
    EXPECT_GT(timer.it_value.tv_sec + timer.it_value.tv_usec, 0);
    SetTimer(-5);
    getitimer(ITIMER_REAL, &timer);
    EXPECT_EQ(timer.it_interval.tv_sec, 0);
    EXPECT_EQ(timer.it_value.tv_sec, 0);
    EXPECT_EQ(timer.it_value.tv_usec, 0);
    SetTimer(30);
    SetTimer(0);
    getitimer(ITIMER_REAL, &timer);
    EXPECT_EQ(timer.it_value.tv_sec + timer.it_value.tv_usec, 0);
}

}  // namespace
