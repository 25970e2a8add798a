// Free-space alerts of the real daemon: both file systems of the box filled step by step, one
// pass per step, and the records that reach the box's system log.
#include <signal.h>

#include "scenario.h"

namespace e2e {
namespace {

using namespace scenario;

std::string Low(const char* what, const char* share) {
    return std::string("Software Watchdog: Warning: Running low on file system space for ") + what +
           ". " + share + " percent left.";
}
std::string Critical(const char* what, const char* share) {
    return std::string(
               "Software Watchdog: Warning: Running critically low on file system space for ") +
           what + ". " + share + " percent left.";
}
const char* const kMails = "voice mails";
const char* const kData = "configuration data";

struct Step {
    int bbramFree, flashfsFree;  // percent; each file system has 100 blocks
    Lines raised;
};

// Each alert once on entering its band, again only after the share has left it; the limits
// of the two file systems differ, and a share equal to a limit is not below it.
TEST_F(BoxTest, SpaceAlertsOncePerBand) {
    box.BbramKb(400).FlashfsKb(400);
    box.Place("/etc/vigilerd.conf",
              "CHECK_INTERVAL=0\nFREE_LIMIT_BBRAM=10\nCRITICAL_LIMIT_BBRAM=5\n"
              "FREE_LIMIT_CONFIG=10\nCRITICAL_LIMIT_CONFIG=3\n");
    box.Start();
    ASSERT_GE(box.WaitForMessage(kRcPass), 0) << box.Dump();
    int fds = box.OpenFds();
    std::vector<Step> steps = {{12, 100, {}},
                               {8, 10, {Low(kMails, "8.0")}},
                               {8, 4, {Low(kData, "4.0")}},
                               {4, 3, {Critical(kMails, "4.0")}},
                               {4, 2, {Critical(kData, "2.0")}},
                               {12, 100, {}},
                               {8, 8, {Low(kMails, "8.0"), Low(kData, "8.0")}},
                               {8, 8, {}}};
    Lines expected;
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        std::string fill;
        for (auto [mount, free] : {std::pair{"/mnt/bbram", steps[i].bbramFree},
                                   {"/mnt/flashfs", steps[i].flashfsFree}}) {
            std::string size = std::to_string((100 - free) * 4096);
            fill += std::string("rm -f ") + mount + "/fill; [ " + size + " = 0 ] || fallocate -l " +
                    size + " " + mount + "/fill; ";
        }
        ASSERT_EQ(box.Exec(fill + "stat -f -c %f /mnt/bbram /mnt/flashfs").output,
                  std::to_string(steps[i].bbramFree) + "\n" + std::to_string(steps[i].flashfsFree) +
                      "\n");
        box.Signal(SIGALRM);
        ASSERT_TRUE(box.WaitForCount(kTerminated, static_cast<int>(i) + 1)) << box.Dump();
        expected.insert(expected.end(), steps[i].raised.begin(), steps[i].raised.end());
        WaitUntil([&] { return box.AlertRecords().size() >= expected.size(); }, milliseconds(500));
        Lines texts;
        for (const std::string& record : box.AlertRecords()) {
            EXPECT_EQ(record.substr(0, 4), "<25>");
            texts.push_back(record.substr(record.find("]: ") + 3));
        }
        ASSERT_EQ(texts, expected);
    }
    EXPECT_EQ(box.OpenFds(), fds);  // no descriptor stays behind per alert

    // A file system that is gone is reported in every pass; the other one is still watched.
    box.Exec("umount /mnt/bbram && rmdir /mnt/bbram");
    box.Signal(SIGALRM);
    EXPECT_EQ(
        WaitForPasses(box, steps.size() + 1).back(),
        Pass({{"Error: Could not stat filesystem: /mnt/bbram -> 2 = No such file or directory"},
              Call("ntp", 0),
              Call("httpd", 0)}));
}

}  // namespace
}  // namespace e2e
