// End-to-end signal handling of the real daemon: ticks during a pass, hibernate and wait
// modes with their rc.conf passes, sleeping for good at any moment, and a signal storm.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "box.h"

namespace e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

constexpr const char* kStarted = "Debug: Thread CheckAllStati started";
constexpr const char* kTerminated = "Debug: Thread CheckAllStati terminated";
constexpr const char* kRcPass = "Info: (Re)reading rc.conf.";
constexpr const char* kWaitSet = "Info: Wait mode has been set (40 seconds)";
constexpr const char* kMarker = "/tmp/hibernateMode";

// Messages from index `from` on.
std::vector<std::string> From(const Box& box, int from) {
    std::vector<std::string> all = box.Messages();
    return std::vector<std::string>(all.begin() + std::min<size_t>(from, all.size()), all.end());
}

// No pass may begin before the previous one has ended.
::testing::AssertionResult PassesNeverOverlap(const Box& box) {
    int open = 0;
    for (const std::string& message : box.Messages()) {
        if (message == kStarted && ++open > 1) {
            return ::testing::AssertionFailure() << "a pass started while another ran";
        }
        if (message == kTerminated) {
            open = 0;
        }
    }
    return ::testing::AssertionSuccess();
}

class Signals : public BoxTest {};

TEST_F(Signals, TickDuringAPassStartsNothingAndLogsOnlyItsDebugLine) {
    box.Place("/etc/vigilerd/scripts/httpd", "#!/bin/sh\nsleep 3\nexit 0\n", 0755);
    box.Start();
    int calling = box.WaitForMessage("Debug: Calling /etc/vigilerd/scripts/httpd status");
    ASSERT_GE(calling, 0) << box.Dump();
    box.Signal(SIGALRM);
    int done = box.WaitForMessage("Debug: Return value: 0", seconds(10), calling);
    ASSERT_GT(done, calling) << box.Dump();
    std::vector<std::string> all = box.Messages();
    std::vector<std::string> between(all.begin() + calling + 1, all.begin() + done);
    EXPECT_THAT(between, ::testing::ElementsAre("Debug: got signal: 14"));
    EXPECT_TRUE(PassesNeverOverlap(box));
}

TEST_F(Signals, HibernateAndWaitLogTheirTicksAndResume) {
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();

    box.Write(kMarker, "");
    box.Signal(SIGHUP);
    int set = box.WaitForMessage("Info: Hibernate mode has been set");
    ASSERT_GE(set, 0) << box.Dump();
    int tick =
        box.WaitForMessage("Info: scheduled for test loop but hibernate mode is set", kWait, set);
    ASSERT_GT(tick, set) << box.Dump();
    EXPECT_EQ(box.Messages()[tick - 1], "Debug: got signal: 14");
    // Once the pass that may have been running has ended, no pass starts while hibernating.
    int endOfLastPass = box.WaitForMessage(
        "Info: scheduled for test loop but hibernate mode is set", kWait, tick + 1);
    ASSERT_GT(endOfLastPass, tick) << box.Dump();
    for (const std::string& message : From(box, tick)) {
        EXPECT_NE(message, kStarted);
    }

    box.Remove(kMarker);
    box.Signal(SIGHUP);
    int reset = box.WaitForMessage("Info: Hibernate mode has been reset", kWait, tick);
    ASSERT_GT(reset, 0) << box.Dump();
    EXPECT_EQ(box.Messages()[reset + 1], kRcPass);
    ASSERT_GT(box.WaitForMessage(kStarted, kWait, reset), reset) << box.Dump();

    box.Signal(SIGHUP);
    int wait = box.WaitForMessage(kWaitSet, kWait, reset);
    ASSERT_GT(wait, reset) << box.Dump();
    int waitingTick =
        box.WaitForMessage("Info: scheduled for test loop but waiting mode is set", kWait, wait);
    ASSERT_GT(waitingTick, wait) << box.Dump();
    EXPECT_EQ(box.Messages()[waitingTick - 1], "Debug: got signal: 14");
    EXPECT_TRUE(PassesNeverOverlap(box));
    EXPECT_TRUE(box.LogLinesWhole());
}

TEST_F(Signals, TwoHangUpsTwentySecondsApartResumeAboutSixtySecondsAfterTheFirst) {
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();
    int before = static_cast<int>(box.Messages().size());

    Clock::time_point first = Clock::now();
    box.Signal(SIGHUP);
    ASSERT_GE(box.WaitForMessage(kWaitSet, kWait, before), 0) << box.Dump();
    // The gap between the two signals is the scenario itself, not a wait for the daemon.
    std::this_thread::sleep_until(first + seconds(20));
    box.Signal(SIGHUP);
    ASSERT_TRUE(box.WaitForCount(kWaitSet, 2)) << box.Dump();

    int pass = box.WaitForMessage(kRcPass, seconds(75), before);
    ASSERT_GT(pass, before) << box.Dump();
    double atPass = std::chrono::duration<double>(Clock::now() - first).count();
    EXPECT_GT(atPass, 58.0);
    EXPECT_LT(atPass, 64.0);
    int resumed = box.WaitForMessage(kStarted, seconds(5), pass);
    ASSERT_GT(resumed, pass) << box.Dump();

    // Between the first SIGHUP and the resumption: no pass, rc.conf read exactly once.
    int passes = 0;
    int waits = 0;
    std::vector<std::string> all = box.Messages();
    for (int i = before; i < resumed; ++i) {
        passes += all[i] == kRcPass;
        waits += all[i] == kWaitSet;
    }
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(waits, 2);
    EXPECT_TRUE(PassesNeverOverlap(box));
}

TEST_F(Signals, MarkerChangesDuringAWaitFollowTheModeTable) {
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();
    int before = static_cast<int>(box.Messages().size());

    // Waiting, then the marker appears: hibernating while waiting.
    box.Signal(SIGHUP);
    ASSERT_GE(box.WaitForMessage(kWaitSet, kWait, before), 0) << box.Dump();
    box.Write(kMarker, "");
    box.Signal(SIGHUP);
    int set = box.WaitForMessage("Info: Hibernate mode has been set", kWait, before);
    ASSERT_GT(set, before) << box.Dump();

    // The wait runs out: rc.conf is read, but hibernation keeps every pass away.
    int waitEnd = box.WaitForMessage(kRcPass, seconds(50), set);
    ASSERT_GT(waitEnd, set) << box.Dump();
    int tick = box.WaitForMessage("Info: scheduled for test loop but hibernate mode is set",
                                  seconds(5), waitEnd);
    ASSERT_GT(tick, waitEnd) << box.Dump();
    for (const std::string& message : From(box, set)) {
        EXPECT_NE(message, kStarted);
    }

    // Hibernating and waiting again; the marker goes: reset and rc.conf at once, the wait goes
    // on to its own end and is not restarted.
    int second = static_cast<int>(box.Messages().size());
    box.Remove(kMarker);
    box.Signal(SIGHUP);  // resets hibernation (rc.conf read once)
    ASSERT_GE(box.WaitForMessage(kRcPass, kWait, second), 0) << box.Dump();
    ASSERT_GE(box.WaitForMessage(kStarted, kWait, second), 0) << box.Dump();
    box.Signal(SIGHUP);  // a wait
    int wait = box.WaitForMessage(kWaitSet, kWait, second);
    ASSERT_GT(wait, second) << box.Dump();
    box.Write(kMarker, "");
    box.Signal(SIGHUP);
    ASSERT_GT(box.WaitForMessage("Info: Hibernate mode has been set", kWait, wait), wait);
    box.Remove(kMarker);
    Clock::time_point resetAt = Clock::now();
    box.Signal(SIGHUP);
    int reset = box.WaitForMessage("Info: Hibernate mode has been reset", kWait, wait);
    ASSERT_GT(reset, wait) << box.Dump();
    EXPECT_EQ(box.Messages()[reset + 1], kRcPass);
    // Still waiting: ticks are refused until the wait ends with its own rc.conf pass.
    ASSERT_GT(
        box.WaitForMessage("Info: scheduled for test loop but waiting mode is set", kWait, reset),
        reset);
    int end = box.WaitForMessage(kRcPass, seconds(50), reset + 2);
    ASSERT_GT(end, reset + 1) << box.Dump();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - resetAt).count(), 42.0);
    ASSERT_GT(box.WaitForMessage(kStarted, seconds(5), end), end) << box.Dump();
    EXPECT_TRUE(PassesNeverOverlap(box));
}

// The daemon after SIGTERM: pid file gone, that line last, alive, deaf to every signal.
void ExpectAsleepForGood(Box& box) {
    ASSERT_TRUE(WaitUntil([&] { return !box.Exists("/run/vigilerd.pid"); })) << box.Dump();
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<std::string> messages = box.Messages();
        return !messages.empty() &&
               messages.back() == "Info: got sleep signal. Ignoring all signals and going to sleep";
    })) << box.Dump();
    std::string log = box.LogText();
    for (int sig : {SIGTERM, SIGHUP, SIGALRM, SIGHUP}) {
        box.Signal(sig);
    }
    // Nothing may follow: a fixed look is the only way to see that nothing happens.
    std::this_thread::sleep_for(seconds(3));
    EXPECT_EQ(box.LogText(), log);
    EXPECT_TRUE(box.Alive());
}

TEST_F(Signals, SleepSignalWhileRunning) {
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 2)) << box.Dump();
    box.Signal(SIGTERM);
    ExpectAsleepForGood(box);
    EXPECT_EQ(box.Count("Debug: got signal: 15"), 1);
}

TEST_F(Signals, SleepSignalWhileWaitingAndHibernating) {
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();
    box.Signal(SIGHUP);
    ASSERT_GE(box.WaitForMessage(kWaitSet), 0) << box.Dump();
    box.Write(kMarker, "");
    box.Signal(SIGHUP);
    ASSERT_GE(box.WaitForMessage("Info: Hibernate mode has been set"), 0) << box.Dump();
    box.Signal(SIGTERM);
    ExpectAsleepForGood(box);
}

TEST_F(Signals, SleepSignalDuringStartUpConfigurationReading) {
    // A service file that is a pipe holds start-up inside its reading until the test writes.
    box.Prepare("rm -f /etc/vigilerd/ppp && mkfifo /etc/vigilerd/ppp");
    box.Start();
    ASSERT_GE(box.WaitForMessage(kRcPass), 0) << box.Dump();
    ASSERT_TRUE(box.Exists("/run/vigilerd.pid"));
    box.Signal(SIGTERM);
    ExpectAsleepForGood(box);
    // Let start-up finish: no pass may ever start after the sleep.
    ASSERT_EQ(box.Exec("echo '[basic]' > /etc/vigilerd/ppp").code, 0);
    std::this_thread::sleep_for(seconds(3));
    EXPECT_EQ(box.Count(kStarted), 0);
    EXPECT_TRUE(box.Alive());
}

TEST_F(Signals, TickDuringStartUpWaitsUntilTheTableIsRead) {
    box.Prepare("rm -f /etc/vigilerd/ppp && mkfifo /etc/vigilerd/ppp");
    box.Start();
    ASSERT_GE(box.WaitForMessage(kRcPass), 0) << box.Dump();
    box.Signal(SIGALRM);
    ASSERT_GE(box.WaitForMessage("Debug: got signal: 14"), 0) << box.Dump();
    std::this_thread::sleep_for(seconds(1));
    EXPECT_EQ(box.Count(kStarted), 0);
    ASSERT_EQ(box.Exec("cp /etc/vigilerd/scripts/../ntp /etc/vigilerd/ppp").code, 0);
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();
    EXPECT_TRUE(PassesNeverOverlap(box));
}

TEST_F(Signals, StormNeverDoublesThreadsNorBreaksLines) {
    box.Place("/etc/vigilerd/scripts/httpd", "#!/bin/sh\nsleep 0.2\nexit 0\n", 0755);
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();
    // Threads of an idle daemon (sanitizer builds add their own): the fewest seen.
    int idle = 1000;
    for (int i = 0; i < 20; ++i) {
        idle = std::min(idle, box.ThreadCount());
        std::this_thread::sleep_for(milliseconds(50));
    }

    std::atomic<bool> storming{true};
    int most = 0;
    std::thread sampler([&] {
        while (storming) {
            most = std::max(most, box.ThreadCount());
        }
    });
    for (int round = 0; round < 6; ++round) {
        if (round % 2 == 1) {
            box.Write(kMarker, "");
        } else {
            box.Remove(kMarker);
        }
        for (int i = 0; i < 1000; ++i) {
            box.Signal(i % 7 == 0 ? SIGHUP : SIGALRM);
        }
        std::this_thread::sleep_for(milliseconds(300));
    }
    box.Remove(kMarker);
    box.Signal(SIGHUP);  // leaves hibernation if the last round left it on
    std::this_thread::sleep_for(milliseconds(500));
    storming = false;
    sampler.join();

    EXPECT_TRUE(box.Alive());
    // At most one check thread and one wait thread beside the idle ones.
    EXPECT_LE(most, idle + 2) << "idle " << idle;
    EXPECT_TRUE(PassesNeverOverlap(box));
    EXPECT_TRUE(box.LogLinesWhole());
    // Still obeys: sleep for good.
    box.Signal(SIGTERM);
    ExpectAsleepForGood(box);
}

}  // namespace
}  // namespace e2e
