// End-to-end space check of the real daemon: the two file systems of the box filled step by
// step between passes, the alerts that reach the system log, and a file system that is gone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "box.h"
#include "scenario.h"

namespace e2e {
namespace {

using namespace scenario;
using std::chrono::seconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr const char* kBbram = "/mnt/bbram";
constexpr const char* kFlashfs = "/mnt/flashfs";

// Both file systems get 400 KiB: 100 blocks of 4 KiB, so a share is a count of free blocks.
constexpr int kBlocks = 100;

std::string Low(const char* what, const char* share) {
    return std::string("Software Watchdog: Warning: Running low on file system space for ") + what +
           ". " + share + " percent left.";
}
std::string Critical(const char* what, const char* share) {
    return std::string(
               "Software Watchdog: Warning: Running critically low on file system space "
               "for ") +
           what + ". " + share + " percent left.";
}
const char* const kVoiceMails = "voice mails";
const char* const kConfigData = "configuration data";

// The system-log records so far, each without its priority, time and tag; each must be an
// alert of the daemon facility.
std::vector<std::string> Alerts(const Box& box) {
    std::vector<std::string> texts;
    for (const std::string& record : box.AlertRecords()) {
        size_t tagEnd = record.find("]: ");
        EXPECT_EQ(record.substr(0, 4), "<25>") << record;
        texts.push_back(tagEnd == std::string::npos ? record : record.substr(tagEnd + 3));
    }
    return texts;
}

// Leaves `free` of the 100 blocks of a file system free, by sizing one file in place: the
// share never passes through other values on the way, so a pass can only see old or new.
void LeaveFree(const Box& box, const char* mount, int free) {
    std::string file = std::string(mount) + "/fill";
    std::string size = std::to_string((kBlocks - free) * 4096);
    std::string allocate = free < kBlocks ? " && fallocate -l " + size + " " + file : "";
    ExecResult sized =
        box.Exec("truncate -s " + size + " " + file + allocate + " && stat -f -c '%b %f' " + mount);
    ASSERT_EQ(sized.code, 0) << sized.output;
    ASSERT_EQ(sized.output, std::to_string(kBlocks) + " " + std::to_string(free) + "\n")
        << "blocks and free blocks of " << mount;
}

struct Step {
    int bbramFree;
    int flashfsFree;
    std::vector<std::string> raised;  // alerts that this step's pass raises, in order
};

// Runs the steps, one pass each: the fill changes between two passes, then the next pass must
// raise exactly the step's alerts.
void RunSteps(Box& box, const std::vector<Step>& steps) {
    if (!box.Started()) {
        box.Start();
    }
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1, seconds(10))) << box.Dump();
    std::vector<std::string> expected = Alerts(box);
    int number = 0;
    for (const Step& step : steps) {
        ++number;
        SCOPED_TRACE("step " + std::to_string(number) + ": " + std::to_string(step.bbramFree) +
                     " and " + std::to_string(step.flashfsFree) + " percent free");
        // Right after a pass has ended there is a whole interval until the next one starts.
        int before =
            box.WaitForMessage(kTerminated, kWait, static_cast<int>(box.Messages().size()));
        ASSERT_GE(before, 0) << box.Dump();
        LeaveFree(box, kBbram, step.bbramFree);
        LeaveFree(box, kFlashfs, step.flashfsFree);
        ASSERT_EQ(box.WaitForMessage(kStarted, milliseconds(0), before), -1)
            << "a pass started while the fill changed";
        int end = WaitForPassAfter(box, before + 1);
        ASSERT_GT(end, before) << box.Dump();

        expected.insert(expected.end(), step.raised.begin(), step.raised.end());
        WaitUntil([&] { return Alerts(box).size() >= expected.size(); }, seconds(2));
        ASSERT_THAT(Alerts(box), ElementsAreArray(expected)) << box.Dump();
    }
    // One more pass: nothing was raised late.
    int last = static_cast<int>(box.Messages().size());
    ASSERT_GE(WaitForPassAfter(box, last), 0) << box.Dump();
    EXPECT_THAT(Alerts(box), ElementsAreArray(expected));
    // Alerts are never logged.
    for (const std::string& message : box.Messages()) {
        EXPECT_EQ(message.find("file system space"), std::string::npos) << message;
    }
}

class SpaceCheckInBox : public BoxTest {
  protected:
    SpaceCheckInBox() { box.BbramKb(kBlocks * 4).FlashfsKb(kBlocks * 4); }
};

// Free limit 10, critical limit 5 on both: each alert once on entering its band, raised again
// only after leaving it; a share equal to a limit is not below it.
TEST_F(SpaceCheckInBox, EachBandAlertsOnceOnEntry) {
    RunSteps(box, {
                      {12, 100, {}},
                      {8, 10, {Low(kVoiceMails, "8.0")}},
                      {8, 5, {Low(kConfigData, "5.0")}},
                      {4, 4, {Critical(kVoiceMails, "4.0"), Critical(kConfigData, "4.0")}},
                      {4, 10, {}},
                      {8, 9, {Low(kConfigData, "9.0")}},
                      {12, 9, {}},
                      {8, 3, {Low(kVoiceMails, "8.0"), Critical(kConfigData, "3.0")}},
                  });
}

// A critical limit at or above the free limit: every share below the free limit is critical,
// and the low alert never comes.
TEST_F(SpaceCheckInBox, CriticalLimitAtOrAboveTheFreeLimit) {
    box.Place("/etc/vigilerd.conf",
              "CHECK_INTERVAL=1\nFREE_LIMIT_BBRAM=5\nCRITICAL_LIMIT_BBRAM=10\n"
              "FREE_LIMIT_CONFIG=10\nCRITICAL_LIMIT_CONFIG=10\n");
    RunSteps(box, {
                      {7, 12, {}},
                      {3, 9, {Critical(kVoiceMails, "3.0"), Critical(kConfigData, "9.0")}},
                      {4, 9, {}},
                      {7, 10, {}},
                      {3, 9, {Critical(kVoiceMails, "3.0"), Critical(kConfigData, "9.0")}},
                  });
}

// Absent limits hold the largest number: with both absent every share is critical, raised at
// the first check; with only the critical limit absent, the low band is critical too.
TEST_F(SpaceCheckInBox, AbsentLimits) {
    box.Place("/etc/vigilerd.conf", "CHECK_INTERVAL=1\nFREE_LIMIT_CONFIG=10\n");
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1, seconds(10))) << box.Dump();
    std::vector<std::string> messages = box.Messages();
    messages.resize(6);
    EXPECT_THAT(messages,
                ElementsAre("Info: started", "Error: failed to get the value from FREE_LIMIT_BBRAM",
                            "Error: failed to get the value from CRITICAL_LIMIT_BBRAM",
                            "Error: failed to get the value from CRITICAL_LIMIT_CONFIG",
                            "Info: (Re)reading rc.conf.",
                            "ppp, dhclient, ipsec, dhcpd_lan, named, ntpd, voice, vpnd, ipsecd, "
                            "stats, tftpd not monitored. Disabled by rc.conf."));
    ASSERT_TRUE(WaitUntil([&] { return !Alerts(box).empty(); }, seconds(2))) << box.Dump();
    EXPECT_THAT(Alerts(box), ElementsAre(Critical(kVoiceMails, "100.0")));
    RunSteps(box, {
                      {50, 12, {}},
                      {0, 8, {Critical(kConfigData, "8.0")}},
                      {100, 10, {}},
                      {100, 9, {Critical(kConfigData, "9.0")}},
                  });
}

// /mnt/bbram gone: its error in every pass, and /mnt/flashfs is still watched. The flashfs
// share of 8.9 percent counts as 8.
TEST_F(SpaceCheckInBox, MissingBbramIsReportedEveryPass) {
    box.FlashfsKb(4000);  // 1000 blocks
    box.Prepare("umount /mnt/bbram && rmdir /mnt/bbram && fallocate -l " +
                std::to_string(911 * 4096) + " /mnt/flashfs/fill");
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 3, seconds(15))) << box.Dump();
    ExecResult flash = box.Exec("stat -f -c '%b %f' /mnt/flashfs");
    EXPECT_EQ(flash.output, "1000 89\n");

    std::vector<std::vector<std::string>> passes = Passes(box.Messages());
    ASSERT_GE(passes.size(), 3u);
    passes.resize(3);
    for (const std::vector<std::string>& pass : passes) {
        EXPECT_THAT(
            pass,
            ElementsAre(kStarted,
                        "Error: Could not stat filesystem: /mnt/bbram -> 2 = No such file "
                        "or directory",
                        "Debug: Calling /etc/vigilerd/scripts/ntp status", "Debug: Return value: 0",
                        "Debug: Calling /etc/vigilerd/scripts/httpd status",
                        "Debug: Return value: 0", kTerminated));
    }
    EXPECT_THAT(Alerts(box), ElementsAre(Low(kConfigData, "8.0")));
}

}  // namespace
}  // namespace e2e
