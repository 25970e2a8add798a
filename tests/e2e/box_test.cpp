// Checks of the box and its harness themselves: the host is left as it was, also when the test
// process dies; writes never leave the box; the log checks can fail; Exec reports exactly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "box.h"

namespace e2e {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string HostCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "popen failed";
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    pclose(pipe);
    return output;
}

bool HostExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

ino_t NetNamespace(pid_t pid) {
    struct stat st;
    return stat(("/proc/" + std::to_string(pid) + "/ns/net").c_str(), &st) == 0 ? st.st_ino : 0;
}

// Live processes (zombies have no namespaces any more) in the network namespace `ns`.
std::vector<pid_t> ProcessesIn(ino_t ns) {
    std::vector<pid_t> found;
    std::istringstream pids(HostCommand("ls /proc"));
    std::string name;
    while (pids >> name) {
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            NetNamespace(static_cast<pid_t>(std::stoi(name))) == ns) {
            found.push_back(static_cast<pid_t>(std::stoi(name)));
        }
    }
    return found;
}

bool Gone(pid_t pid) {
    return !HostExists("/proc/" + std::to_string(pid));
}

// Paths the box fills inside; none of them may ever appear on the host.
const char* const kBoxOnlyPaths[] = {"/dev/log",
                                     "/run/.box",
                                     "/run/box",
                                     "/run/vigilerd.pid",
                                     "/var/log/vigilerd.log",
                                     "/usr/sbin/vigilerd",
                                     "/etc/vigilerd",
                                     "/etc/vigilerd.conf",
                                     "/usr/bin/raise_alert",
                                     "/usr/bin/mainlogszipperforvigiler",
                                     "/run/interfaces"};

struct HostState {
    std::string mounts = HostFileText("/proc/self/mountinfo");
    std::string ipc = HostCommand("ipcs");
    std::string links = HostCommand("ls /sys/class/net");
};

TEST(BoxSelfTest, LeavesNothingBehindOnTheHost) {
    for (const char* path : kBoxOnlyPaths) {
        ASSERT_FALSE(HostExists(path)) << path << " exists on the host before the test";
    }
    HostState before;
    pid_t daemon, escaped;
    ino_t ns;
    std::vector<pid_t> inBox;
    {
        Box box;
        box.InstallTool("raise_alert");
        box.Start();
        daemon = box.Pid();
        ns = NetNamespace(daemon);
        ASSERT_GE(box.WaitForMessage("Info: started"), 0) << box.Dump();
        // The box is real: its own mounts, links, IPC objects and system log.
        EXPECT_EQ(box.Exec("mountpoint -q /mnt/bbram && ip -o link show wan0-peer").code, 0);
        ExecResult semaphore = box.Exec("ipcmk -S 1");
        EXPECT_EQ(semaphore.code, 0) << semaphore.output;
        EXPECT_THAT(box.Exec("ipcs -s").output, HasSubstr("0x"));
        EXPECT_EQ(box.Exec("raise_alert 'self test'").code, 0);
        EXPECT_GE(box.WaitForAlert("self test"), 0) << box.Dump();
        // A process that leaves the daemon's process group and session must go as well.
        ExecResult started = box.Exec("setsid sleep 1000 </dev/null >/dev/null 2>&1 & echo $!");
        ASSERT_EQ(started.code, 0);
        escaped = static_cast<pid_t>(std::stoi(started.output));
        EXPECT_EQ(NetNamespace(escaped), ns);
        // Taken while the box still holds its namespace (its number is reused once it is gone).
        inBox = ProcessesIn(ns);
        EXPECT_THAT(inBox, ::testing::IsSupersetOf({daemon, escaped}));
        box.Stop();
        EXPECT_FALSE(box.Alive());
    }
    EXPECT_TRUE(Gone(daemon)) << "the daemon was not reaped";
    EXPECT_TRUE(Gone(escaped)) << "a box process outlived the box";
    for (pid_t pid : inBox) {
        EXPECT_TRUE(Gone(pid)) << "box process " << pid << " outlived the box";
    }
    HostState after;
    EXPECT_EQ(after.mounts, before.mounts);
    EXPECT_EQ(after.ipc, before.ipc);
    EXPECT_EQ(after.links, before.links);
    for (const char* path : kBoxOnlyPaths) {
        EXPECT_FALSE(HostExists(path)) << path << " was left on the host";
    }
}

// The test process is killed in the middle of a test: the daemon follows it at once, and the
// box's log listener then ends every other process of the box.
TEST(BoxSelfTest, EverythingGoesWhenTheTestProcessDies) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);  // what is left comes here to be reaped
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t tester = fork();
    ASSERT_GE(tester, 0);
    if (tester == 0) {
        close(report[0]);
        std::string line = "failed\n";
        try {
            Box box;
            box.Start();
            if (box.WaitForMessage("Info: started") >= 0) {
                ExecResult started = box.Exec(
                    "setsid sleep 1000 </dev/null >/dev/null 2>&1 & "
                    "echo $!");
                line = std::to_string(box.Pid()) + " " + started.output;
            }
        } catch (...) {
        }
        ssize_t ignored = write(report[1], line.data(), line.size());
        (void)ignored;
        kill(getpid(), SIGKILL);  // no destructor, no Stop()
    }
    close(report[1]);
    std::string line;
    char c;
    while (read(report[0], &c, 1) == 1) {
        line += c;
    }
    close(report[0]);
    int status;
    waitpid(tester, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    std::istringstream fields(line);
    pid_t daemon = 0, escaped = 0;
    fields >> daemon >> escaped;
    ASSERT_GT(daemon, 0) << line;
    ASSERT_GT(escaped, 0) << line;

    auto deadOrZombie = [](pid_t pid) {
        std::string stat = HostFileText("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        return stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z");
    };
    EXPECT_TRUE(WaitUntil([&] { return deadOrZombie(daemon) && deadOrZombie(escaped); }));
    // Both were handed to this process when their parents died; reap them.
    for (pid_t pid : {daemon, escaped}) {
        WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid || Gone(pid); },
                  milliseconds(2000));
    }
    EXPECT_TRUE(Gone(daemon));
    EXPECT_TRUE(Gone(escaped));
    for (const char* path : kBoxOnlyPaths) {
        EXPECT_FALSE(HostExists(path)) << path << " was left on the host";
    }
}

TEST(BoxSelfTest, WritesNeverLeaveTheBox) {
    Box box;
    box.Command({"/bin/sleep", "1000"});
    box.Start();
    EXPECT_THROW(box.Write("/var/lib/vigilerd-box-escape", "x"), std::runtime_error);
    EXPECT_THROW(box.Write("/usr/share/vigilerd-box-escape", "x"), std::runtime_error);
    EXPECT_THROW(box.Mkdir("/opt/vigilerd-box-escape/sub"), std::runtime_error);
    EXPECT_THROW(box.Remove("/var/lib/vigilerd-box-escape"), std::runtime_error);
    // Through links the box's own tools made: a directory link and an absolute file link.
    ASSERT_EQ(box.Exec("ln -s /var/lib /etc/escape && "
                       "ln -s /var/lib/vigilerd-box-escape /run/escape")
                  .code,
              0);
    EXPECT_THROW(box.Write("/etc/escape/vigilerd-box-escape", "x"), std::runtime_error);
    EXPECT_THROW(box.Write("/run/escape", "x"), std::runtime_error);
    EXPECT_THROW(box.Append("/run/escape", "x"), std::runtime_error);
    EXPECT_FALSE(HostExists("/var/lib/vigilerd-box-escape"));
    EXPECT_FALSE(HostExists("/usr/share/vigilerd-box-escape"));
    EXPECT_FALSE(HostExists("/opt/vigilerd-box-escape"));

    // Links resolve inside the box: /var/run is the box's /run.
    box.Write("/var/run/inside", "inside\n", 0600);
    EXPECT_EQ(box.Read("/run/inside"), "inside\n");
    EXPECT_EQ(box.Exec("stat -c %a /run/inside").output, "600\n");
    EXPECT_FALSE(HostExists("/run/inside"));
    box.Mkdir("/tmp/a/b/c");
    box.Write("/tmp/a/b/c/file", "x");
    box.Remove("/tmp/a");
    EXPECT_FALSE(box.Exists("/tmp/a"));
    EXPECT_TRUE(box.Exists("/tmp"));
}

TEST(BoxSelfTest, ConfigurationOutsideThePrivateTreesIsRefused) {
    Box box;
    box.AddConf(SOURCE_DIR "/tests/e2e/conf/escape");
    try {
        box.Start();
        ADD_FAILURE() << "the box started with a configuration that reaches /var/lib";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), HasSubstr("refusing to fill /var/lib"));
    }
    EXPECT_FALSE(box.Alive());
    EXPECT_FALSE(HostExists("/var/lib/vigilerd-box-escape"));
}

// The log checks are not vacuous: they see a foreign pid, a line without prefix and a cut line.
TEST(BoxSelfTest, LogChecksFindBrokenLines) {
    Box box;
    box.Command({"/bin/sleep", "1000"});
    box.Start();
    std::string pid = std::to_string(box.Pid());
    std::string good = "Fri Dec  4 11:19:26 2026 [" + pid + "] Info: started\n";
    box.Write("/var/log/vigilerd.log", good + "Fri Dec  4 11:19:27 2026 [" + pid +
                                           "] Debug: output follows\nsecond line of it\n");
    EXPECT_THAT(box.Messages(),
                ElementsAre("Info: started", "Debug: output follows\nsecond line of it"));
    EXPECT_FALSE(box.LogLinesWhole()) << "a line without prefix";

    box.Write("/var/log/vigilerd.log", good + "Fri Dec  4 11:19:27 2026 [1] Info: started\n");
    EXPECT_FALSE(box.LogLinesWhole()) << "a line of another process";
    box.Write("/var/log/vigilerd.log", good + "Fri Dec  4 11:19:27 2026 [" + pid + "] Info: ");
    EXPECT_FALSE(box.LogLinesWhole());
    box.Write("/var/log/vigilerd.log", "Fri Dec 4 11:19:27 2026 [" + pid + "] Info: started\n");
    EXPECT_FALSE(box.LogLinesWhole()) << "day of the month not padded to two places";
    box.Write("/var/log/vigilerd.log", good + good);
    EXPECT_TRUE(box.LogLinesWhole());
    EXPECT_EQ(box.WaitForMessage("Info: started", milliseconds(0), 1), 1);
    EXPECT_EQ(box.WaitForMessage("Info: started", milliseconds(100), 2), -1);
    EXPECT_TRUE(box.WaitForCount("Info: started", 2, milliseconds(0)));
}

TEST(BoxSelfTest, ExecReportsCodeOutputSignalAndTimeout) {
    Box box;
    box.Command({"/bin/sleep", "1000"});
    box.Start();
    ExecResult plain = box.Exec("echo out; echo err >&2; exit 3");
    EXPECT_EQ(plain.code, 3);
    EXPECT_EQ(plain.output, "out\nerr\n");
    EXPECT_EQ(box.Exec("kill -TERM $$").code, 128 + SIGTERM);
    EXPECT_EQ(box.Exec("sleep 5", milliseconds(200)).code, -1);
    // A background process holding the output does not keep Exec waiting.
    ExecResult background = box.Exec("sleep 30 & echo started");
    EXPECT_EQ(background.code, 0);
    EXPECT_EQ(background.output, "started\n");
    // Exec works in the box's namespaces, not the host's.
    EXPECT_EQ(
        box.Exec("test -S /dev/log && test -d /run/.box && ip -o link show wlan0 >/dev/null").code,
        0);
    EXPECT_EQ(box.Children(), std::vector<pid_t>());
}

}  // namespace
}  // namespace e2e
