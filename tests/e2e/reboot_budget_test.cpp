// The reboot budget across boots: restarting the daemon stands for a boot. /usr/sbin/vigilerd
// is a loop that starts the daemon (as /usr/bin/vigilerd, keeping its name) whenever it dies,
// unless /run/box/hold exists.
#include <signal.h>

#include <random>
#include <regex>

#include "scenario.h"

namespace e2e::scenario {

constexpr const char* kRecord = "/mnt/flashfs/vigilerd.reboots";
constexpr const char* kTemp = "/mnt/flashfs/vigilerd.reboots.tmp";
const std::string kSettings =
    "CHECK_INTERVAL=1\nFREE_LIMIT_BBRAM=10\nCRITICAL_LIMIT_BBRAM=5\n"
    "FREE_LIMIT_CONFIG=10\nCRITICAL_LIMIT_CONFIG=5\n";

// A record whose every line is an entry and that is at least `least` bytes long.
bool Whole(const std::string& text, size_t least) {
    static const std::regex entry("[0-9]+ (escalation|stall|hardware) [^ ]+");
    Lines lines = Split(text, '\n');
    return text.size() >= least && (text.empty() || text.back() == '\n') &&
           std::all_of(lines.begin(), lines.end(),
                       [](const std::string& line) { return std::regex_match(line, entry); });
}

class Budget : public BoxTest {
  protected:
    Budget() {
        box.Install(VIGILERD_BIN, "/usr/bin/vigilerd")
            .Install(VIGILERCTL_BIN, "/usr/sbin/vigilerctl");
        box.Place("/usr/sbin/vigilerd",
                  "#!/bin/sh\nwhile :; do while [ -e /run/box/hold ]; do sleep "
                  "0.05; done; /usr/bin/vigilerd; done\n",
                  0755);
    }
    // Services that fail while /run/box/fail exists and escalate with "reboot" at once.
    void Failing(const std::string& names) {
        box.Place("/etc/sysconfig/rc.conf", RcConf(names)).Place("/run/box/fail", "");
        for (const std::string& name : Split(names)) {
            box.Place("/etc/vigilerd/" + name,
                      Service(name,
                              "BAD_RET=1,\nMAX_FAIL=1\nFAILS_FOR_ESCALATION=1\nESCALATION_CMD="
                              "reboot\n[failcmd1]\nFAIL_CMD=" +
                                  std::string(kAct) + " repair 1\n"));
            box.Place("/etc/vigilerd/scripts/" + name, "#!/bin/sh\n! [ -e /run/box/fail ]\n", 0755);
        }
    }
    pid_t Daemon() const { return atoi(box.Read("/var/run/vigilerd.pid").c_str()); }
};

struct BudgetCase {
    const char* name;
    int budget;           // REBOOT_BUDGET, within REBOOT_BUDGET_HOURS=1; without it when negative
    std::string record;   // the record at the first boot; "@N" is a time N seconds from now
    std::string prepare;  // a shell command in the box before the first boot
    int reboots;          // reboots before the budget holds; -1 when it never does
    int entries;          // lines of the record at the end, all dated from now on; -1 none
    std::string line;     // a log line the first boot shows once, or ""
};

class BudgetRow : public Budget, public ::testing::WithParamInterface<BudgetCase> {};

// A reboot is recorded (and the daemon killed, as a reboot would) until the budget holds;
// then, in every pass, the spent line and the fail command in its place, the voice lock given
// back, one alert per boot in which the budget was found spent. vigilerctl shows the budget
// and the record; once the record is emptied, the next escalation reboots.
TEST_P(BudgetRow, RebootsUntilTheBudgetHolds) {
    const BudgetCase& c = GetParam();
    long long now = time(nullptr);
    std::string record = c.record, hours = c.budget < 0 ? "" : "REBOOT_BUDGET_HOURS=1\n";
    for (std::smatch at; std::regex_search(record, at, std::regex("@(-?[0-9]+)"));)
        record.replace(at.position(), at.length(), std::to_string(now + std::stoll(at[1])));
    box.Place("/etc/vigilerd.conf",
              kSettings + "REBOOT_BUDGET=" + std::to_string(abs(c.budget)) + "\n" + hours);
    box.Place("/usr/sbin/reboot",
              "#!/bin/sh\necho x >>/run/box/reboot.log\n"
              "kill -9 $(cat /var/run/vigilerd.pid)\n",
              0755);
    if (!c.record.empty())
        box.Place(kRecord, record);
    box.Prepare(c.prepare.empty() ? "true" : c.prepare);
    Failing("httpd");
    box.Start();
    auto reboots = [&] {
        return static_cast<int>(Split(box.Read("/run/box/reboot.log"), '\n').size());
    };
    const std::string spent = "Error: Reboot budget spent (" + std::to_string(abs(c.budget)) +
                              " reboots in 1 hours). Could not execute the escalation command";
    ASSERT_TRUE(WaitUntil(
        [&] {  // two spent passes in a boot after the last reboot, or three reboots
            Lines log = box.Messages();  // before the reboots: a reboot on its way counts
            auto boot = std::find(log.rbegin(), log.rend(), "Info: started");
            int done = reboots(),
                boots = static_cast<int>(std::count(log.begin(), log.end(), "Info: started"));
            return c.reboots < 0 ? done >= 3
                                 : done >= c.reboots && boots > done &&
                                       std::count(log.rbegin(), boot, spent) >= 2;
        },
        seconds(40)));
    Lines log = box.Messages(), actions = Split(box.Read("/run/box/actions.log"), '\n');
    int boots = 0, alerted = 0, lines = 0, spentThisBoot = 0;
    for (auto at = log.begin(); at != log.end(); ++at) {
        if (*at == "Info: started")
            spentThisBoot = 0, ++boots;
        lines += boots == 1 && *at == c.line;
        alerted += *at == spent && !std::exchange(spentThisBoot, 1);
        if (*at == spent && log.end() - at >= 3) {  // the last one may still be running
            EXPECT_EQ(Lines(at + 1, at + 3),
                      Split(std::string("Error: Executing the fail command ") + kAct +
                            " repair 1|Error: Fail Command not successfully "
                            "executed, got Errorcode = 1 ()"));
        }
    }
    EXPECT_EQ(lines, c.line.empty() ? 0 : 1) << c.line;
    // The fail command ran with the voice lock free: the refused reboot gave its hold back.
    EXPECT_EQ(std::count(actions.begin(), actions.end(), "repair lock=free") > 0 &&
                  std::count(actions.begin(), actions.end(), "repair lock=held") == 0,
              c.reboots >= 0);
    EXPECT_TRUE(WaitUntil([&] {
        std::string all = box.Read("/run/box/syslog.log");
        std::regex alert(
            "Watchdog: Reboot budget spent: httpd keeps failing and the box is not rebooted\\.\n");
        return std::distance(std::sregex_iterator(all.begin(), all.end(), alert), {}) == alerted;
    }));
    std::string written = box.Read(kRecord);
    Lines entries = Split(written, '\n');
    EXPECT_EQ(box.Exists(kRecord), c.entries >= 0);
    EXPECT_TRUE(Whole(written, 0)) << written;
    EXPECT_EQ(static_cast<int>(entries.size()), std::max(c.entries, 0)) << written;
    for (const std::string& line : entries)
        EXPECT_GE(std::stoll(line), now) << written;
    if (c.reboots < 0)
        return;
    EXPECT_EQ(reboots(), c.reboots);
    std::string next = std::to_string(std::stoll(entries[0]) + 3600),
                used = std::to_string(entries.size());
    EXPECT_THAT(box.Exec("vigilerctl status --json").output,
                ::testing::EndsWith("],\"rebootBudget\":{\"used\":" + used +
                                    ",\"allowed\":" + std::to_string(c.budget) +
                                    ",\"hours\":1,\"nextReboot\":" + next + "}}\n"));
    EXPECT_THAT(
        box.Exec("vigilerctl status").output,
        ::testing::HasSubstr("\nreboot budget: " + used + " of " + std::to_string(c.budget) +
                             " used in 1 hours, next reboot allowed 20"));
    EXPECT_THAT(box.Exec("vigilerctl reboots").output,
                ::testing::StartsWith(entries[0].substr(0, 10) + " 20"));
    // Emptied, the record lets the next escalation reboot.
    EXPECT_EQ(box.Exec("vigilerctl reboots --clear").code, 0);
    EXPECT_TRUE(WaitUntil([&] { return reboots() == c.reboots + 1; }));
}

const std::string kReadWarning =
    "Warning: Could not read the reboot record /mnt/flashfs/vigilerd.reboots (";
INSTANTIATE_TEST_SUITE_P(
    Box, BudgetRow,
    ::testing::Values(
        BudgetCase{"HoldsAfterTwo", 2, "", "", 2, 2, ""},
        // Spent for some ten seconds, until the old entry leaves the window and is dropped.
        BudgetCase{"FreesUpWhenEntriesAgeOut", 1, "@-3590 escalation httpd\n", "", 1, 1, ""},
        BudgetCase{"FutureEntryCounts", 1, "@7200 hardware -\n", "", 0, 1, ""},
        BudgetCase{"TornRecordCountsAsEmpty", 1, "@-9 escalation httpd\n@-5 escal", "", 1, 1,
                   kReadWarning + "malformed line 2)"},
        BudgetCase{"GarbageCountsAsEmpty", 1, "@-9  escalation httpd\n", "", 1, 1,
                   kReadWarning + "malformed line 1)"},
        BudgetCase{"FifoCountsAsEmpty", 1, "", "mkfifo /mnt/flashfs/vigilerd.reboots", 1, 1,
                   kReadWarning + "not a regular file)"},
        BudgetCase{"ReadOnlyFlashStillReboots", 1, "", "mount -o remount,ro /mnt/flashfs", -1, -1,
                   "Error: Could not write the reboot record /mnt/flashfs/vigilerd.reboots (30 = "
                   "Read-only file system)"},
        BudgetCase{"OneKeyIsNoBudget", -1, "", "", -1, -1, ""}),
    [](const ::testing::TestParamInfo<BudgetCase>& info) { return info.param.name; });

// kill -9 at random moments around the writes of four escalating services: the record is
// always whole, the old one or a new one, and every start-up reads it; a temporary file that a
// cut left behind is gone once the next start-up is done.
TEST_F(Budget, KillsAroundTheWriteLeaveAWholeRecord) {
    std::string record;  // kept at every write, being dated later than now
    for (long long i = 0, at = time(nullptr) + 86400; i < 1000; ++i)
        record += std::to_string(at + i) + " hardware -\n";
    box.FlashfsKb(4096).Place(kRecord, record);
    box.Place("/etc/vigilerd.conf", kSettings + "REBOOT_BUDGET=100000\nREBOOT_BUDGET_HOURS=1\n");
    Failing("ppp|httpd|named|ntp");
    box.Start();
    std::mt19937 random(std::random_device{}());
    int kills = 0, caught = 0;
    pid_t pid = -1, last = -1;
    auto end = std::chrono::steady_clock::now() + seconds(60);
    for (; kills < 50 && std::chrono::steady_clock::now() < end; ++kills, last = pid) {
        ASSERT_TRUE(WaitUntil([&] { return (pid = Daemon()) > 0 && pid != last; }));
        // Within 1.5 seconds, or at once when a write is seen under way.
        auto at = std::chrono::steady_clock::now() + milliseconds(random() % 1500);
        bool writing = false;
        while (!(writing = box.Exists(kTemp)) && std::chrono::steady_clock::now() < at) {
            std::string now = box.Read(kRecord);  // readers too see a whole record at any time
            ASSERT_TRUE(now.size() >= record.size() && now.back() == '\n') << now;
        }
        kill(pid, SIGKILL);
        caught += writing;
        ASSERT_TRUE(Whole(box.Read(kRecord), record.size())) << box.Read(kRecord);
    }
    EXPECT_TRUE(kills >= 20 && caught >= 1) << kills << " kills, " << caught << " during a write";
    ASSERT_TRUE(WaitUntil([&] { return (pid = Daemon()) > 0 && pid != last; }));
    box.Exec("touch /run/box/hold; rm /run/box/fail");
    kill(pid, SIGKILL);
    box.Write(kTemp, "1796000000 escal");
    box.Exec("rm /run/box/hold");
    ASSERT_TRUE(WaitUntil([&] {  // the state file is first written once the record was read
        pid_t now = Daemon();
        return now != pid &&
               box.Read("/var/run/vigilerd.state").find("PID=" + std::to_string(now) + "\n") !=
                   std::string::npos;
    }));
    EXPECT_FALSE(box.Exists(kTemp));
    EXPECT_EQ(box.LogText().find("Warning: Could not read the reboot record"), std::string::npos);
}

}  // namespace e2e::scenario
