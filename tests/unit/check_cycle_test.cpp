// The check pass over the service table: which rows run, the exact log of a pass, the timer
// and running flag around it, and stop requests before and during a pass.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "config/service_table.h"
#include "core/daemon.h"
#include "core/log.h"
#include "core/run_modes.h"
#include "core/timer.h"
#include "monitor/check_cycle.h"
#include "monitor_support.h"
#include "test_support.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

// Period of the interval timer as it stands now; 0 when it is disarmed.
long TimerPeriod() {
    struct itimerval value = {};
    getitimer(ITIMER_REAL, &value);
    return value.it_interval.tv_sec;
}

bool WaitForFile(const std::string& path) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!test::Exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        usleep(10000);
    }
    return true;
}

class CheckCycle : public testing::Test {
  protected:
    void SetUp() override {
        test::ResetDaemonState();
        ASSERT_TRUE(test::InstallStandIns());
        // Both watched file systems exist and the limits are 0: the space check stays quiet.
        mkdir("/mnt/bbram", 0755);
        mkdir("/mnt/flashfs", 0755);
        poll = 7;
    }
    void TearDown() override {
        SetTimer(0);  // the handled signals are blocked in the test process; disarm anyway
        test::ResetDaemonState();
    }
};

TEST_F(CheckCycle, PassChecksEnabledRowsInTableOrder) {
    test::ServiceSetup ppp;
    ppp.script = test::StatusScript("ppp");
    DaemonConfig& pppRow = test::ConfigureRow(0, ppp);
    pppRow.currentFails = 4;  // a good result clears earlier failures

    // Rows whose enabled flag is anything but 1 are passed over without a line.
    const int skipped[] = {3, 4, 5};
    const int skippedFlags[] = {0, 2, -1};
    for (int i = 0; i < 3; ++i) {
        test::ServiceSetup setup;
        setup.script = test::StatusScript("skipped" + std::to_string(i));
        test::ConfigureRow(skipped[i], setup).enabled = skippedFlags[i];
        test::SetStatus("skipped" + std::to_string(i), 1);
    }

    test::ServiceSetup httpd;
    httpd.script = test::StatusScript("httpd");
    httpd.goodReturns = {0, 5};
    DaemonConfig& httpdRow = test::ConfigureRow(7, httpd);
    test::SetStatus("httpd", 5, "fine");

    test::ServiceSetup tftpd;  // a bad value without a fail command
    tftpd.script = test::StatusScript("tftpd");
    tftpd.failCommands = {{3, "echo fail >> /run/monitor-test/ran", 0}};
    DaemonConfig& tftpdRow = test::ConfigureRow(12, tftpd);
    tftpdRow.currentFails = 2;
    test::SetStatus("tftpd", 9);

    checkRunning = 1;  // claimed by the signal side before the thread starts
    test::LogCapture log;
    EXPECT_EQ(CheckAllStati(nullptr), nullptr);

    EXPECT_THAT(log.Messages(), ElementsAre("Debug: Thread CheckAllStati started\n",
                                            "Debug: Calling /usr/bin/monitor-test-ppp status\n",
                                            "Debug: Return value: 0\n",
                                            "Debug: Calling /usr/bin/monitor-test-httpd status\n",
                                            "Debug: Return value: 5\n",
                                            "Debug: Calling /usr/bin/monitor-test-tftpd status\n",
                                            "Debug: Return value: 9\n",
                                            "Warning: returnValue 9 (BAD RETURN) from cmd = "
                                            "/usr/bin/monitor-test-tftpd status ()\n",
                                            "Error: ***WARNING*** unknown returnvalue 9 for "
                                            "ConfigConfiguration[12]\n",
                                            "Debug: Thread CheckAllStati terminated\n"));
    EXPECT_EQ(pppRow.lastReturn, 0);
    EXPECT_EQ(pppRow.currentFails, 0);
    EXPECT_EQ(httpdRow.lastReturn, 5);
    EXPECT_EQ(tftpdRow.lastReturn, 9);
    EXPECT_EQ(tftpdRow.currentFails, 2);
    for (int row : skipped) {
        EXPECT_EQ(daemonConfigs[row].lastReturn, -1) << row;
    }
    EXPECT_THAT(test::TakeRan(), IsEmpty());
    EXPECT_EQ(checkRunning, 0);
    EXPECT_EQ(TimerPeriod(), 7);
}

TEST_F(CheckCycle, StopRequestedBeforeThePassLooksAtNoRow) {
    test::ServiceSetup ppp;
    ppp.script = test::StatusScript("ppp");
    test::ConfigureRow(0, ppp);
    test::SetStatus("ppp", 3);
    // The space check still runs: its error line shows it.
    rmdir("/mnt/bbram");
    stopChecks = 1;

    test::LogCapture log;
    RunCheckPass();
    EXPECT_THAT(log.Messages(),
                ElementsAre("Debug: Thread CheckAllStati started\n",
                            "Error: Could not stat filesystem: /mnt/bbram -> 2 = No such file "
                            "or directory\n",
                            "Debug: Thread CheckAllStati terminated\n"));
    EXPECT_EQ(daemonConfigs[0].lastReturn, -1);
    EXPECT_EQ(checkRunning, 0);
    EXPECT_EQ(TimerPeriod(), 7);
}

TEST_F(CheckCycle, StopDuringAScriptFinishesThatRowAndNoMore) {
    const std::string started = std::string(test::kScratchDir) + "/started";
    const std::string go = std::string(test::kScratchDir) + "/go";
    test::ServiceSetup slow;
    slow.script = "/usr/bin/monitor-test-slow";
    test::WriteFile(
        *slow.script,
        "#!/bin/sh\n: > " + started + "\nwhile [ ! -e " + go + " ]; do sleep 0.02; done\nexit 3\n",
        0755);
    slow.failCommands = {{3, "echo fail >> /run/monitor-test/ran; exit 1", 0}};
    slow.maxFail = 1;
    DaemonConfig& slowRow = test::ConfigureRow(1, slow);

    test::ServiceSetup next;
    next.script = test::StatusScript("next");
    DaemonConfig& nextRow = test::ConfigureRow(2, next);

    test::LogCapture log;
    SetTimer(30);
    std::thread pass(RunCheckPass);
    bool running = WaitForFile(started);
    EXPECT_TRUE(running);
    if (running) {
        EXPECT_EQ(checkRunning, 1);
        EXPECT_EQ(TimerPeriod(), 0) << "no tick may fall due while scripts run";
    }
    stopChecks = 1;
    test::WriteFile(go, "");
    pass.join();

    EXPECT_EQ(slowRow.lastReturn, 3);
    EXPECT_EQ(slowRow.currentFails, 1);
    EXPECT_EQ(nextRow.lastReturn, -1);
    EXPECT_THAT(test::TakeRan(), ElementsAre("archive", "fail"));
    std::vector<std::string> messages = log.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2],
              "Error: Fail Command not successfully executed, got Errorcode = 1 ()\n");
    EXPECT_EQ(messages.back(), "Debug: Thread CheckAllStati terminated\n");
    EXPECT_THAT(log.Text(), testing::Not(testing::HasSubstr("monitor-test-next")));
    EXPECT_EQ(checkRunning, 0);
    EXPECT_EQ(TimerPeriod(), 7);
}

TEST_F(CheckCycle, RowWithoutScriptIsSkippedWithOneError) {
    test::ServiceSetup broken;  // enabled again by rc.conf after its file failed to load
    broken.failCommands = {{3, "echo fail >> /run/monitor-test/ran", 0}};
    broken.maxFail = 0;
    DaemonConfig& brokenRow = test::ConfigureRow(2, broken);
    brokenRow.currentFails = 3;
    test::ServiceSetup named;
    named.script = test::StatusScript("named");
    test::ConfigureRow(4, named);

    test::LogCapture log;
    RunCheckPass();
    EXPECT_THAT(log.Messages(), ElementsAre("Debug: Thread CheckAllStati started\n",
                                            "Error: Service ipsec has no status script, skipped\n",
                                            "Debug: Calling /usr/bin/monitor-test-named status\n",
                                            "Debug: Return value: 0\n",
                                            "Debug: Thread CheckAllStati terminated\n"));
    EXPECT_EQ(brokenRow.lastReturn, -1);
    EXPECT_EQ(brokenRow.currentFails, 3);
    EXPECT_THAT(test::TakeRan(), IsEmpty());
}

TEST_F(CheckCycle, UnmetDependencySkipsTheRowByItsScriptPath) {
    test::WriteFile("/etc/sysconfig/rc.conf", "START_VIGILERD=true\n");
    test::ServiceSetup vpnd;
    vpnd.script = test::StatusScript("vpnd");
    vpnd.dependsOn = "variable START_TUNNEL yes";
    DaemonConfig& vpndRow = test::ConfigureRow(9, vpnd);
    vpndRow.currentFails = 2;
    test::SetStatus("vpnd", 0);
    test::ServiceSetup stats;  // an empty condition is a condition, and none of the known forms
    stats.script = test::StatusScript("stats");
    stats.dependsOn = "";
    test::ConfigureRow(11, stats);

    {
        test::LogCapture log;
        RunCheckPass();
        EXPECT_THAT(log.Messages(),
                    ElementsAre("Debug: Thread CheckAllStati started\n",
                                "Debug: Dependancy not solved: /usr/bin/monitor-test-vpnd. "
                                "continue.\n",
                                "Error: Error: Unknown dependancy \n",
                                "Debug: Dependancy not solved: /usr/bin/monitor-test-stats. "
                                "continue.\n",
                                "Debug: Thread CheckAllStati terminated\n"));
        EXPECT_EQ(vpndRow.lastReturn, -1);
        EXPECT_EQ(vpndRow.currentFails, 2);
    }

    test::WriteFile("/etc/sysconfig/rc.conf", "START_VIGILERD=true\nSTART_TUNNEL=yes\n");
    test::LogCapture log;
    RunCheckPass();
    EXPECT_THAT(log.Messages(),
                testing::Contains("Debug: Calling /usr/bin/monitor-test-vpnd status\n"));
    EXPECT_EQ(vpndRow.lastReturn, 0);
    EXPECT_EQ(vpndRow.currentFails, 0);
}

TEST_F(CheckCycle, CommandLineIsTheScriptTextAsItStands) {
    // Not quoted: a blank in the path splits it into a command and arguments.
    test::WriteFile("/usr/bin/monitor-test-args", "#!/bin/sh\necho \"$*\"\nexit 1\n", 0755);
    test::ServiceSetup ntp;
    ntp.script = "/usr/bin/monitor-test-args extra";
    test::ConfigureRow(6, ntp);

    // Far beyond any fixed command buffer.
    std::string deep = std::string(test::kScratchDir);
    for (int i = 0; i < 4; ++i) {
        deep += "/" + std::string(200, 'd');
    }
    test::WriteFile(deep + "/status.sh", "#!/bin/sh\necho \"$1\"\nexit 0\n", 0755);
    test::ServiceSetup ntpd;
    ntpd.script = deep + "/status.sh";
    test::ConfigureRow(5, ntpd);

    test::LogCapture log;
    RunCheckPass();
    EXPECT_THAT(
        log.Messages(),
        ElementsAre("Debug: Thread CheckAllStati started\n",
                    "Debug: Calling " + deep + "/status.sh status\n", "Debug: Return value: 0\n",
                    "Debug: Calling /usr/bin/monitor-test-args extra status\n",
                    "Debug: Return value: 1\n",
                    "Warning: returnValue 1 (BAD RETURN) from cmd = "
                    "/usr/bin/monitor-test-args extra status (extra status\n",
                    ")\n",
                    "Error: ***WARNING*** unknown returnvalue 1 for "
                    "ConfigConfiguration[6]\n",
                    "Debug: Thread CheckAllStati terminated\n"));
    EXPECT_EQ(daemonConfigs[5].lastReturn, 0);
}

TEST_F(CheckCycle, TableEndsAtTheSentinelRow) {
    test::ServiceSetup ppp;
    ppp.script = test::StatusScript("ppp");
    test::ConfigureRow(0, ppp);
    test::ServiceSetup dhclient;
    dhclient.script = test::StatusScript("dhclient");
    test::ConfigureRow(1, dhclient);

    // A sentinel id ends the walk wherever it stands, row 0 included.
    for (int end : {1, 0}) {
        SCOPED_TRACE(end);
        struct Restore {
            int row;
            ~Restore() { daemonConfigs[row].id = row; }
        } restore{end};
        daemonConfigs[end].id = kSentinelId;
        test::LogCapture log;
        RunCheckPass();
        std::vector<std::string> expected = {"Debug: Thread CheckAllStati started\n"};
        if (end == 1) {
            expected.push_back("Debug: Calling /usr/bin/monitor-test-ppp status\n");
            expected.push_back("Debug: Return value: 0\n");
        }
        expected.push_back("Debug: Thread CheckAllStati terminated\n");
        EXPECT_THAT(log.Messages(), ElementsAreArray(expected));
        EXPECT_EQ(TimerPeriod(), 7);
    }
}

}  // namespace
