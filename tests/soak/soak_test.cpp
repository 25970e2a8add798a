// The soak: the daemon for SOAK_SECONDS (the environment variable, else the build's value)
// under mixed load in one box: failing, repaired and escalated services, the voice lock,
// space alerts, hibernation rounds. Its descriptors, threads and memory must not grow.
#include <signal.h>

#include <cstdlib>
#include <thread>

#include "scenario.h"

namespace e2e {
namespace {

using namespace scenario;

TEST_F(BoxTest, Soak) {
    const char* env = getenv("SOAK_SECONDS");
    const auto end = std::chrono::steady_clock::now() + seconds(env ? atoi(env) : SOAK_SECONDS);
    UseStandIns(box);
    box.BbramKb(400);
    box.Place("/etc/sysconfig/rc.conf", RcConf("ppp|httpd|voice|tftpd"));
    for (const char* name : {"ppp", "httpd", "voice", "tftpd"}) {
        // Results cycle through good, a failing repair, a working repair and an unknown value.
        box.Place(std::string("/etc/vigilerd/scripts/") + name,
                  "#!/bin/sh\necho output\nexit $(( $(date +%s%N | cut -c9-10) % 4 ))\n", 0755);
        box.Place(std::string("/etc/vigilerd/") + name,
                  Service(name, std::string("BAD_RET=1,2,\nMAX_FAIL=2\nFAILS_FOR_ESCALATION=4\n") +
                                    "ESCALATION_CMD=" + (name[0] == 'v' ? "reboot" : "true") +
                                    "\n[failcmd1]\nFAIL_CMD=false\n[failcmd2]\nFAIL_CMD=" + kAct +
                                    " repair 0\n"));
    }
    box.Place("/usr/sbin/reboot", "#!/bin/sh\n", 0755);
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 3)) << box.Dump();
    const int fds = box.OpenFds();
    const int threads = std::stoi(box.ProcField("Threads"));
    const int memory = std::stoi(box.ProcField("VmRSS"));
    for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
        box.Exec("fallocate -l " + std::to_string(round % 2 * 380) +
                 "k /mnt/bbram/fill || rm /mnt/bbram/fill");
        int passes = box.Count(kTerminated);
        if (round % 5 == 4) {
            int from = static_cast<int>(box.Messages().size());
            box.Write(kMarker, "");
            box.Signal(SIGHUP);
            ASSERT_GE(box.WaitForMessage("Info: Hibernate mode has been set", kWait, from), 0);
            box.Remove(kMarker);
            box.Signal(SIGHUP);
        }
        ASSERT_TRUE(box.WaitForCount(kTerminated, passes + 2)) << box.Dump();
        ASSERT_TRUE(box.Alive());
        EXPECT_LE(std::stoi(box.ProcField("Threads")), threads + 1);
    }
    EXPECT_EQ(box.OpenFds(), fds);
    EXPECT_LT(std::stoi(box.ProcField("VmRSS")), memory + 1024) << "kB";
    EXPECT_TRUE(box.LogLinesWhole());
}

}  // namespace
}  // namespace e2e
