// What a run of bad status results sets off: the count, the archives, the fail command, the
// escalation, the voice lock around voice repairs and reboots, and the event of a reboot.
// Commands are stand-ins that append to a file, so the order of what ran can be checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "config/service_table.h"
#include "core/daemon.h"
#include "core/log.h"
#include "monitor/check_cycle.h"
#include "monitor/failure_reaction.h"
#include "monitor_support.h"
#include "test_support.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

const std::string kRan = test::kRanPath;
const std::string kFailing = "echo fail >> " + kRan + "; exit 1";
const std::string kEscalate = "echo escalate >> " + kRan;

std::string Archive() {
    return "OK, let's try to archive some important logs first...\n"
           "Done.\n";
}

std::string BadReturn(int value, const std::string& script, const std::string& output = "") {
    return "Warning: returnValue " + std::to_string(value) + " (BAD RETURN) from cmd = " + script +
           " status (" + output + ")\n";
}

std::string Count(const char* name, int fails, int maxFail) {
    return std::string("Warning: current fails for ") + name + " is " + std::to_string(fails) +
           " of max " + std::to_string(maxFail) + "\n";
}

std::string Rebooting(const char* name) {
    return test::AlertMessage(std::string(name) +
                              " reported too many errors. Executing Escalation Command.");
}

class FailureReaction : public testing::Test {
  protected:
    void SetUp() override {
        test::ResetDaemonState();
        ASSERT_TRUE(test::InstallStandIns()) << "reboot must reach the stand-in";
        ASSERT_TRUE(alerts_.Bound());
        mkdir("/mnt/bbram", 0755);
        mkdir("/mnt/flashfs", 0755);
        registered_.Register("system", "Software Watchdog");
        savedEvent_ = event;
        event = &registered_;
        ASSERT_TRUE(test::VoiceLockIsFree());
    }
    void TearDown() override {
        event = savedEvent_;
        // A reboot escalation keeps the lock, once for each reboot; give it all back.
        for (int level = 0; level < 8; ++level) {
            sem.Unlock();
        }
        test::ResetDaemonState();
    }

    // One pass; returns the log without the pass's own Debug lines.
    std::string Pass() {
        test::LogCapture log;
        RunCheckPass();
        return test::WithoutDebug(log.Messages());
    }

    test::AlertListener alerts_;
    AlertEvent registered_;
    AlertEvent* savedEvent_ = nullptr;
};

// Per counted failure: "a" archive only, "f" fail command, "s" fail command that succeeds,
// "e" escalation.
struct CountCase {
    const char* title;
    int maxFail;
    int failsForEscalation;
    bool hasEscalationCmd;
    int succeedAt;  // the counted failure at which the fail command first succeeds; 0: never
    std::vector<const char*> actions;
    std::vector<int> counts;  // currentFails after each pass
};

TEST_F(FailureReaction, CountDecidesBetweenNothingFailCommandAndEscalation) {
    const std::vector<CountCase> cases = {
        {"count table", 3, 5, true, 0, {"a", "a", "f", "f", "e", "e", "e"}, {1, 2, 3, 4, 5, 6, 7}},
        {"never escalates", 3, -1, true, 0, {"a", "a", "f", "f", "f", "f"}, {1, 2, 3, 4, 5, 6}},
        {"maxFail 0", 0, -1, true, 0, {"f", "f"}, {1, 2}},
        {"maxFail 1", 1, -1, true, 0, {"f", "f"}, {1, 2}},
        {"escalation 0", 3, 0, true, 0, {"e", "e"}, {1, 2}},
        {"escalation 1", 3, 1, true, 0, {"e", "e"}, {1, 2}},
        {"escalation not above maxFail", 3, 2, true, 0, {"a", "e", "e"}, {1, 2, 3}},
        {"escalation count without command", 1, 1, false, 0, {"f", "f", "f"}, {1, 2, 3}},
        {"repaired", 2, 4, true, 2, {"a", "s", "a", "s"}, {1, 0, 1, 0}},
    };
    const std::string script = test::StatusScript("dhclient");
    const std::string fixState = std::string(test::kScratchDir) + "/fixed";

    for (const CountCase& c : cases) {
        SCOPED_TRACE(c.title);
        test::ResetDaemonState();
        test::ServiceSetup setup;
        setup.script = script;
        // The repairing command succeeds (exit 7, its configured good return) from the
        // succeedAt-th counted failure on.
        std::string command = c.succeedAt == 0 ? kFailing
                                               : "echo fail >> " + kRan + "; [ -e " + fixState +
                                                     " ] && exit 7; exit 1";
        setup.failCommands = {{2, "echo other >> " + kRan, 0}, {3, command, c.succeedAt ? 7 : 0}};
        setup.maxFail = c.maxFail;
        setup.failsForEscalation = c.failsForEscalation;
        if (c.hasEscalationCmd) {
            setup.escalationCmd = kEscalate;
        }
        DaemonConfig& row = test::ConfigureRow(1, setup);
        test::SetStatus("dhclient", 3);
        test::RemovePath(fixState);
        test::TakeRan();

        for (size_t i = 0; i < c.actions.size(); ++i) {
            SCOPED_TRACE("pass " + std::to_string(i + 1));
            std::string action = c.actions[i];
            if (action == "s") {
                test::WriteFile(fixState, "");
            } else {
                test::RemovePath(fixState);
            }
            int before = row.currentFails;
            std::string expected =
                BadReturn(3, script) + Count("dhclient", before + 1, c.maxFail) + Archive();
            std::vector<std::string> ran = {"archive"};
            if (action == "f" || action == "s") {
                expected += "Error: Executing the fail command " + command + "\n";
                ran.push_back("fail");
                expected += action == "s"
                                ? "Info: Fail Command successfully executed\n"
                                : "Error: Fail Command not successfully executed, got Errorcode = "
                                  "1 ()\n";
            } else if (action == "e") {
                ran.push_back("escalate");
            }
            EXPECT_EQ(Pass(), expected);
            EXPECT_EQ(test::TakeRan(), ran);
            EXPECT_EQ(row.currentFails, c.counts[i]);
            EXPECT_EQ(row.lastReturn, 3);
        }
        EXPECT_THAT(alerts_.Take(), IsEmpty());
        EXPECT_TRUE(test::VoiceLockIsFree());
    }
}

TEST_F(FailureReaction, GoodResultClearsTheCount) {
    test::ServiceSetup setup;
    setup.script = test::StatusScript("named");
    setup.failCommands = {{3, kFailing, 0}};
    setup.maxFail = 5;
    DaemonConfig& row = test::ConfigureRow(4, setup);
    test::SetStatus("named", 3);
    Pass();
    Pass();
    EXPECT_EQ(row.currentFails, 2);
    test::SetStatus("named", 0);
    EXPECT_EQ(Pass(), "");
    EXPECT_EQ(row.currentFails, 0);
    EXPECT_EQ(row.lastReturn, 0);
    test::SetStatus("named", 3);
    EXPECT_THAT(Pass(), testing::HasSubstr(Count("named", 1, 5)));
}

TEST_F(FailureReaction, UnknownValueIsOneErrorLineWhateverTheCount) {
    test::ServiceSetup setup;
    setup.script = test::StatusScript("ntpd");
    setup.failCommands = {{3, kFailing, 0}};
    setup.maxFail = 1;
    setup.failsForEscalation = 5;
    setup.escalationCmd = "reboot";
    DaemonConfig& row = test::ConfigureRow(5, setup);
    row.currentFails = 7;  // already past the escalation count
    test::SetStatus("ntpd", 4, "odd");
    test::TakeRan();

    EXPECT_EQ(Pass(),
              BadReturn(4, *setup.script, "odd") +
                  "Error: ***WARNING*** unknown returnvalue 4 for ConfigConfiguration[5]\n");
    EXPECT_EQ(row.currentFails, 7);
    EXPECT_EQ(row.lastReturn, 4);
    EXPECT_THAT(test::TakeRan(), IsEmpty());
    EXPECT_THAT(alerts_.Take(), IsEmpty());
    EXPECT_TRUE(test::VoiceLockIsFree());
}

TEST_F(FailureReaction, OutputAppearsAsDelivered) {
    test::ServiceSetup setup;
    setup.script = test::StatusScript("httpd");
    setup.failCommands = {{3, "echo repair said; exit 2", 0}};
    setup.maxFail = 1;
    test::ConfigureRow(7, setup);
    test::SetStatus("httpd", 3, "server gone\n");

    // The fail command's output takes the place of the script's in the failure line.
    EXPECT_EQ(Pass(), BadReturn(3, *setup.script, "server gone\n") + Count("httpd", 1, 1) +
                          Archive() +
                          "Error: Executing the fail command echo repair said; exit 2\n"
                          "Error: Fail Command not successfully executed, got Errorcode = 2 "
                          "(repair said\n)\n");
}

TEST_F(FailureReaction, RebootIsAnnouncedAndTakenUnderTheVoiceLock) {
    test::ServiceSetup setup;
    setup.script = test::StatusScript("ipsec");
    setup.failCommands = {{3, kFailing, 0}};
    setup.maxFail = 1;
    setup.failsForEscalation = 2;
    setup.escalationCmd = "reboot";
    DaemonConfig& row = test::ConfigureRow(2, setup);
    test::SetStatus("ipsec", 3);
    Pass();
    test::TakeRan();

    EXPECT_EQ(Pass(), BadReturn(3, *setup.script) + Count("ipsec", 2, 1) + Archive());
    EXPECT_THAT(test::TakeRan(), ElementsAre("archive", "reboot"));
    EXPECT_THAT(alerts_.Take(), ElementsAre(Rebooting("ipsec")));
    EXPECT_FALSE(test::VoiceLockIsFree()) << "the lock is kept until the box goes down";
    EXPECT_EQ(row.currentFails, 2);
}

TEST_F(FailureReaction, RebootWaitsWhileTheVoiceSubsystemIsBusy) {
    test::ServiceSetup setup;
    setup.script = test::StatusScript("ppp");
    setup.failCommands = {{3, kFailing, 0}};
    setup.maxFail = 3;
    setup.failsForEscalation = 1;
    setup.escalationCmd = "reboot";
    DaemonConfig& row = test::ConfigureRow(0, setup);
    test::SetStatus("ppp", 3);

    {
        test::VoiceLockHolder voice;
        ASSERT_TRUE(voice.Holding());
        EXPECT_EQ(Pass(), BadReturn(3, *setup.script) + Count("ppp", 1, 3) + Archive() +
                              "Error: Voice subsystem is in use. Could not execute the "
                              "escalation command\n");
        EXPECT_THAT(test::TakeRan(), ElementsAre("archive"));
        EXPECT_THAT(alerts_.Take(), IsEmpty());
        EXPECT_EQ(row.currentFails, 1);
    }
    // The next counted failure tries again, now with the voice subsystem idle.
    EXPECT_EQ(Pass(), BadReturn(3, *setup.script) + Count("ppp", 2, 3) + Archive());
    EXPECT_THAT(test::TakeRan(), ElementsAre("archive", "reboot"));
    EXPECT_THAT(alerts_.Take(), ElementsAre(Rebooting("ppp")));
}

TEST_F(FailureReaction, OtherEscalationsRunWithoutLockOrEvent) {
    test::VoiceLockHolder voice;
    ASSERT_TRUE(voice.Holding());
    const std::vector<std::pair<std::string, std::string>> escalations = {
        {"Reboot", "Reboot"},         {"reboot ", "reboot"},   {"/usr/sbin/reboot", "reboot"},
        {"reboot now", "reboot now"}, {kEscalate, "escalate"},
    };
    for (const auto& [command, trace] : escalations) {
        SCOPED_TRACE(command);
        test::ResetDaemonState();
        test::ServiceSetup setup;
        setup.script = test::StatusScript("voice");
        setup.failCommands = {{3, kFailing, 0}};
        setup.maxFail = 3;
        setup.failsForEscalation = 1;
        setup.escalationCmd = command;
        test::ConfigureRow(kVoiceId, setup);  // the row does not matter, only the text
        test::SetStatus("voice", 3);
        test::TakeRan();
        EXPECT_EQ(Pass(), BadReturn(3, *setup.script) + Count("voice", 1, 3) + Archive());
        EXPECT_THAT(test::TakeRan(), ElementsAre("archive", trace));
        EXPECT_THAT(alerts_.Take(), IsEmpty());
    }
}

TEST_F(FailureReaction, VoiceFailCommandRunsOnlyUnderTheLock) {
    // The fail command itself tries to take the lock: "busy" proves the daemon held it.
    const std::string probe = std::string(TOOLS_DIR) + "/voice_lock_holder 0 >> " + kRan;
    test::ServiceSetup setup;
    setup.script = test::StatusScript("voice");
    setup.failCommands = {{3, probe + "; echo repair said; exit 1", 0}, {4, probe + "; exit 0", 0}};
    setup.maxFail = 1;
    DaemonConfig& row = test::ConfigureRow(kVoiceId, setup);
    test::SetStatus("voice", 3, "no dial tone");
    test::TakeRan();

    // Failed: the line shows the status script's output, not the command's.
    EXPECT_EQ(Pass(), BadReturn(3, *setup.script, "no dial tone") + Count("voice", 1, 1) +
                          Archive() + "Error: Executing the fail command " + probe +
                          "; echo repair said; exit 1\n" +
                          "Error: Fail Command not successfully executed, got Errorcode = 1 "
                          "(no dial tone)\n");
    EXPECT_THAT(test::TakeRan(), ElementsAre("archive", "busy"));
    EXPECT_TRUE(test::VoiceLockIsFree());
    EXPECT_EQ(row.currentFails, 1);

    test::SetStatus("voice", 4);
    EXPECT_EQ(Pass(), BadReturn(4, *setup.script) + Count("voice", 2, 1) + Archive() +
                          "Error: Executing the fail command " + probe + "; exit 0\n" +
                          "Info: Fail Command successfully executed\n");
    EXPECT_THAT(test::TakeRan(), ElementsAre("archive", "busy"));
    EXPECT_TRUE(test::VoiceLockIsFree());
    EXPECT_EQ(row.currentFails, 0);

    // Busy: nothing runs, no result line, the count stays.
    test::VoiceLockHolder voice;
    ASSERT_TRUE(voice.Holding());
    test::SetStatus("voice", 3);
    EXPECT_EQ(Pass(), BadReturn(3, *setup.script) + Count("voice", 1, 1) + Archive() +
                          "Error: Executing the fail command " + probe +
                          "; echo repair said; exit 1\n" +
                          "Error: Voice subsystem is in use. Could not execute the fail "
                          "command\n");
    EXPECT_THAT(test::TakeRan(), ElementsAre("archive"));
    EXPECT_EQ(row.currentFails, 1);
}

TEST_F(FailureReaction, OtherRowsRepairWithoutTheLock) {
    test::VoiceLockHolder voice;
    ASSERT_TRUE(voice.Holding());
    test::ServiceSetup setup;
    setup.script = test::StatusScript("stats");
    setup.failCommands = {{3, "echo fail >> " + kRan + "; exit 0", 0}};
    setup.maxFail = 1;
    test::ConfigureRow(11, setup);
    test::SetStatus("stats", 3);
    test::TakeRan();
    EXPECT_EQ(Pass(), BadReturn(3, *setup.script) + Count("stats", 1, 1) + Archive() +
                          "Error: Executing the fail command " + setup.failCommands[0].command +
                          "\nInfo: Fail Command successfully executed\n");
    EXPECT_THAT(test::TakeRan(), ElementsAre("archive", "fail"));
}

TEST_F(FailureReaction, MissingArchiverChangesNothing) {
    test::RemovePath("/bin/mainlogszipperforvigiler");
    test::ServiceSetup setup;
    setup.script = test::StatusScript("tftpd");
    setup.failCommands = {{3, kFailing, 0}};
    setup.maxFail = 1;
    test::ConfigureRow(12, setup);
    test::SetStatus("tftpd", 3);
    test::TakeRan();
    EXPECT_EQ(Pass(), BadReturn(3, *setup.script) + Count("tftpd", 1, 1) + Archive() +
                          "Error: Executing the fail command " + kFailing +
                          "\nError: Fail Command not successfully executed, got Errorcode = 1 "
                          "()\n");
    EXPECT_THAT(test::TakeRan(), ElementsAre("fail"));
}

TEST_F(FailureReaction, ReactionReplacesTheCommandLineWithTheFailCommand) {
    test::ServiceSetup setup;
    setup.failCommands = {{6, "echo long >> " + kRan + std::string(600, ' ') + "; exit 1", 0}};
    setup.maxFail = 0;
    DaemonConfig& row = test::ConfigureRow(3, setup);
    std::string commandLine = "/etc/init.d/dhcpd status";
    std::string output = "down";
    test::TakeRan();
    test::LogCapture log;
    ReactToFailure(row, 3, 6, commandLine, output);
    EXPECT_EQ(commandLine, setup.failCommands[0].command);
    EXPECT_EQ(output, "");
    EXPECT_THAT(test::TakeRan(), ElementsAre("archive", "long"));
    EXPECT_THAT(log.Messages(), testing::Contains("Warning: returnValue 6 (BAD RETURN) from cmd = "
                                                  "/etc/init.d/dhcpd status (down)\n"));
}

}  // namespace
