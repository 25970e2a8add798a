// The soak: the daemon for SOAK_SECONDS (the environment variable, else the build's value)
// under mixed load in one box: failing, repaired and escalated services, the voice lock,
// space alerts, hibernation rounds. Its descriptors, threads and memory must not grow.
#include <signal.h>

#include "scenario.h"

namespace e2e::scenario {
using namespace std::string_literals;

class Soak : public BoxTest {};

TEST_F(Soak, MixedLoad) {
    const char* env = getenv("SOAK_SECONDS");
    const auto end = std::chrono::steady_clock::now() + seconds(env ? atoi(env) : SOAK_SECONDS);
    box.BbramKb(400).Place("/etc/sysconfig/rc.conf", RcConf("ppp|httpd|voice|tftpd"));
    box.Place("/usr/sbin/reboot", "#!/bin/sh\n", 0755);
    for (std::string name : {"ppp", "httpd", "voice", "tftpd"}) {
        // Results change every second: good, a failing repair, a working one, unknown.
        box.Place("/etc/vigilerd/scripts/" + name,
                  "#!/bin/sh\necho out\nexit $(($(date +%s) % 4))\n", 0755);
        box.Place("/etc/vigilerd/" + name,
                  Service(name, "BAD_RET=1,2,\nMAX_FAIL=2\nFAILS_FOR_ESCALATION=4\nESCALATION_CMD=" +
                                    (name == "voice" ? "reboot"s : "true"s) +
                                    "\n[failcmd1]\nFAIL_CMD=false\n[failcmd2]\nFAIL_CMD=true\n"));
    }
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 3));
    const int fds = box.OpenFds(), threads = std::stoi(box.ProcField("Threads"));
    const int memory = std::stoi(box.ProcField("VmRSS"));
    for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
        box.Exec("head -c " + std::to_string(round % 2 * 390000) + " /dev/zero >/mnt/bbram/fill");
        int from = static_cast<int>(box.Messages().size());
        if (round % 5 == 4) {  // hibernate and wake up, which reads rc.conf again
            box.Write(kMarker, "");
            box.Signal(SIGHUP);
            ASSERT_GE(box.WaitForMessage("Info: Hibernate mode has been set", kWait, from), 0);
            box.Exec(std::string("rm ") + kMarker);
            box.Signal(SIGHUP);
        }
        ASSERT_GE(box.WaitForMessage(kTerminated, kWait, box.WaitForMessage(kStarted, kWait, from)),
                  0);
        EXPECT_LE(std::stoi(box.ProcField("Threads")), threads + 1);
    }
    EXPECT_EQ(box.OpenFds(), fds);
    EXPECT_LT(std::stoi(box.ProcField("VmRSS")), memory + 1024) << "kB";
    EXPECT_TRUE(box.Alive());
}

}  // namespace e2e::scenario
