// Free-space alerts of the real daemon: both file systems of the box filled step by step, one
// pass per step, and the records that reach the box's system log.
#include <signal.h>

#include "scenario.h"

namespace e2e::scenario {

// "Lm8.0" is the low alert for voice mails at 8.0 percent, "Cd2.0" the critical one for
// configuration data at 2.0 percent.
std::string Alert(const std::string& code) {
    return std::string("Software Watchdog: Warning: Running ") +
           (code[0] == 'L' ? "low" : "critically low") + " on file system space for " +
           (code[1] == 'm' ? "voice mails" : "configuration data") + ". " + code.substr(2) +
           " percent left.";
}

struct Step {
    int bbramFree, flashfsFree;  // percent; each file system has 100 blocks
    const char* raised;
};

// Each alert once on entering its band, again only after the share has left it; the limits
// of the two file systems differ, and a share equal to a limit is not below it.
TEST_F(BoxTest, SpaceAlertsOncePerBand) {
    box.BbramKb(400).FlashfsKb(400);
    box.Prepare("sed -i 's/INTERVAL=1/INTERVAL=0/; s/CONFIG=5/CONFIG=3/' /etc/vigilerd.conf");
    box.Start();
    ASSERT_TRUE(WaitForStartUp(box));
    int fds = box.OpenFds();
    std::vector<Step> steps = {{12, 100, ""},         {8, 10, "Lm8.0"}, {8, 4, "Ld4.0"},
                               {4, 3, "Cm4.0"},       {4, 2, "Cd2.0"},  {12, 100, ""},
                               {8, 8, "Lm8.0 Ld8.0"}, {8, 8, ""}};
    Lines expected;
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        std::string free = std::to_string(steps[i].bbramFree) + " " + std::to_string(steps[i].flashfsFree);
        ASSERT_EQ(box.Exec("set -- " + free + "; head -c $(((100 - $1) * 4096)) /dev/zero >/mnt/bbram/fill; "
                           "head -c $(((100 - $2) * 4096)) /dev/zero >/mnt/flashfs/fill; echo "
                           "$(stat -f -c %f /mnt/bbram /mnt/flashfs)").output, free + "\n");
        box.Signal(SIGALRM);
        ASSERT_TRUE(box.WaitForCount(kTerminated, static_cast<int>(i) + 1));
        for (const std::string& code : Split(steps[i].raised, ' '))
            expected.push_back("<25>" + Alert(code));
        WaitUntil([&] { return box.AlertRecords().size() >= expected.size(); }, seconds(2));
        ASSERT_EQ(box.Records(), expected);
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

}  // namespace e2e::scenario
