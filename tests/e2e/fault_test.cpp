// End-to-end faults around the running daemon: full log disk, vanishing files and mounts, slow
// archiver, leftover processes, a system logger that dies, hangs up or stalls, child descriptors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "box.h"
#include "scenario.h"

namespace e2e {
namespace {

using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

constexpr const char* kStarted = "Debug: Thread CheckAllStati started";
constexpr const char* kTerminated = "Debug: Thread CheckAllStati terminated";
constexpr const char* kRcPass = "Info: (Re)reading rc.conf.";
constexpr const char* kMarker = "/tmp/hibernateMode";
constexpr const char* kStatusLog = "/run/box/status.log";
constexpr const char* kHttpdScript = "/etc/vigilerd/scripts/httpd";
constexpr const char* kHttpdCall = "Debug: Calling /etc/vigilerd/scripts/httpd status";
constexpr const char* kNtpCall = "Debug: Calling /etc/vigilerd/scripts/ntp status";
constexpr const char* kArchiving = "OK, let's try to archive some important logs first...";

// Lines of a box file equal to `line`; 0 when the file does not exist.
int CountLines(const Box& box, const std::string& path, const std::string& line) {
    std::string text;
    if (!box.TryRead(path, &text)) {
        return 0;
    }
    std::istringstream in(text);
    int count = 0;
    for (std::string each; std::getline(in, each);) {
        count += each == line ? 1 : 0;
    }
    return count;
}

// Runs of a stand-in status script, as it records them.
int StatusRuns(const Box& box, const std::string& service) {
    return CountLines(box, kStatusLog, service + " status");
}

int MessageCount(const Box& box) {
    return static_cast<int>(box.Messages().size());
}

using scenario::FollowsAt;

// Sets hibernate mode and resets it again, which makes the daemon read rc.conf and the
// interface state file once more. Returns the index of the reset line.
int HibernateRound(Box& box) {
    int from = MessageCount(box);
    box.Write(kMarker, "");
    box.Signal(SIGHUP);
    int set = box.WaitForMessage("Info: Hibernate mode has been set", kWait, from);
    if (set < 0) {
        return -1;
    }
    box.Remove(kMarker);
    box.Signal(SIGHUP);
    return box.WaitForMessage("Info: Hibernate mode has been reset", kWait, set);
}

// Process state letter from /proc; 0 when the process is gone.
char ProcessState(pid_t pid) {
    std::string text = HostFileText("/proc/" + std::to_string(pid) + "/stat");
    size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? 0 : text[close + 2];
}

// A mask such as "SigIgn" of /proc/PID/status; all bits set when it cannot be read.
unsigned long long StatusMask(pid_t pid, const std::string& field) {
    std::istringstream in(HostFileText("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, field.size() + 1, field + ":") == 0) {
            return std::stoull(line.substr(field.size() + 1), nullptr, 16);
        }
    }
    return ~0ULL;
}

// The signals between the kernel's first real-time signal and SIGRTMIN, as a mask.
unsigned long long ReservedSignals() {
    unsigned long long mask = 0;
    for (int sig = 32; sig < SIGRTMIN; ++sig) {
        mask |= 1ULL << (sig - 1);
    }
    return mask;
}

// Free and total blocks of a file system in the box, and the whole-number free share the
// daemon computes from them.
int FreeShare(const Box& box, const std::string& path, long* freeBlocks, long* totalBlocks) {
    ExecResult result = box.Exec("stat -f -c '%b %f' " + path);
    long total = 0;
    long available = 0;
    std::istringstream(result.output) >> total >> available;
    if (result.code != 0 || total <= 0) {
        return -1;
    }
    if (freeBlocks != nullptr) {
        *freeBlocks = available;
    }
    if (totalBlocks != nullptr) {
        *totalBlocks = total;
    }
    return static_cast<int>(available * 100 / total);
}

// Fills the file system with one more file until its free share is `percent`; returns the
// share reached.
int FillTo(const Box& box, const std::string& path, int percent, const std::string& name) {
    long available = 0;
    long total = 0;
    if (FreeShare(box, path, &available, &total) < 0) {
        return -1;
    }
    // The fewest free blocks that still give `percent` whole.
    long keep = (percent * total + 99) / 100;
    long fill = available - keep;
    if (fill > 0) {
        box.Exec("dd if=/dev/zero of=" + path + "/" + name + " bs=" + std::to_string(4096) +
                 " count=" + std::to_string(fill) + " 2>/dev/null");
    }
    return FreeShare(box, path, nullptr, nullptr);
}

std::string PercentText(int share) {
    return std::to_string(share) + ".0";
}

class Faults : public BoxTest {};

// A full log disk costs lines, never checks: the scripts keep running, lines come back whole
// once there is room again.
TEST_F(Faults, FullLogDiskDropsWholeLinesWhileChecksGoOn) {
    box.Prepare("mount -t tmpfs -o size=64k,mode=755 tmpfs /var/log");
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 2)) << box.Dump();

    ASSERT_EQ(box.Exec("dd if=/dev/zero of=/var/log/filler bs=4096 2>/dev/null; "
                       "[ -s /var/log/filler ]")
                  .code,
              0);
    // What still fits into the log's last page is used up within a few passes; from then on
    // the log stays as it is while the status scripts go on running.
    size_t frozen = box.LogText().size();
    int runsAtFreeze = StatusRuns(box, "httpd");
    bool stable = WaitUntil(
        [&] {
            size_t now = box.LogText().size();
            int runs = StatusRuns(box, "httpd");
            if (now != frozen) {
                frozen = now;
                runsAtFreeze = runs;
                return false;
            }
            return runs >= runsAtFreeze + 3;
        },
        seconds(30));
    ASSERT_TRUE(stable) << "the log kept growing on a full disk\n" << box.Dump();
    EXPECT_TRUE(box.Alive());
    EXPECT_GE(StatusRuns(box, "ntp"), runsAtFreeze + 2);
    // A line that did not fit was taken back whole: the log ends in a complete line.
    EXPECT_TRUE(box.LogLinesWhole()) << box.Dump();

    int before = MessageCount(box);
    ASSERT_EQ(box.Exec("rm /var/log/filler").code, 0);
    int resumed = box.WaitForMessage(kStarted, kWait, before);
    ASSERT_GE(resumed, before) << box.Dump();
    ASSERT_GT(box.WaitForMessage(kTerminated, kWait, resumed), resumed) << box.Dump();
    EXPECT_TRUE(box.LogLinesWhole()) << box.Dump();
    EXPECT_TRUE(box.Alive());
}

// rc.conf and the interface state file gone, turned into directories or dangling links: each
// re-reading says so in one line, the services keep the enablement they had, and checking goes
// on. A proper rc.conf later is read as usual.
TEST_F(Faults, RcConfAndInterfaceFileVanishingAtRunTime) {
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();
    std::string rcConf = box.Read("/etc/sysconfig/rc.conf");

    struct Case {
        const char* what;
        const char* breakFiles;
    };
    const Case cases[] = {
        {"removed", "rm /etc/sysconfig/rc.conf /run/interfaces"},
        {"directories", "mkdir /etc/sysconfig/rc.conf /run/interfaces"},
        {"dangling links",
         "rmdir /etc/sysconfig/rc.conf /run/interfaces && "
         "ln -s /nowhere/rc.conf /etc/sysconfig/rc.conf && ln -s /nowhere/interfaces "
         "/run/interfaces"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(box.Exec(c.breakFiles).code, 0);
        int reset = HibernateRound(box);
        ASSERT_GE(reset, 0) << box.Dump();
        EXPECT_TRUE(FollowsAt(
            box, reset,
            {"Info: Hibernate mode has been reset", "Error: failed to open /etc/sysconfig/rc.conf",
             "Error: failed to open /var/run/interfaces"}))
            << box.Dump();
        // Both services still run: the failed pass changed no row.
        int httpd = StatusRuns(box, "httpd");
        int ntp = StatusRuns(box, "ntp");
        ASSERT_TRUE(WaitUntil([&] {
            return StatusRuns(box, "httpd") >= httpd + 2 && StatusRuns(box, "ntp") >= ntp + 2;
        })) << box.Dump();
        EXPECT_TRUE(box.Alive());
    }

    // A readable rc.conf again, with ntp switched off: read as usual.
    ASSERT_EQ(box.Exec("rm /etc/sysconfig/rc.conf /run/interfaces").code, 0);
    std::string withoutNtp =
        std::regex_replace(rcConf, std::regex("START_NTP=true"), "START_NTP=false");
    box.Write("/etc/sysconfig/rc.conf", withoutNtp);
    box.Write("/run/interfaces", "VIRT_WAN=wan0\n");
    int reset = HibernateRound(box);
    EXPECT_TRUE(FollowsAt(box, reset,
                          {"Info: Hibernate mode has been reset", kRcPass,
                           "ppp, dhclient, ipsec, dhcpd_lan, named, ntpd, ntp, voice, vpnd, "
                           "ipsecd, stats, tftpd not monitored. Disabled by rc.conf."}))
        << box.Dump();
    int passes = box.Count(kTerminated);
    ASSERT_TRUE(box.WaitForCount(kTerminated, passes + 2)) << box.Dump();
    int ntp = StatusRuns(box, "ntp");
    int httpd = StatusRuns(box, "httpd");
    ASSERT_TRUE(box.WaitForCount(kTerminated, passes + 4)) << box.Dump();
    EXPECT_EQ(StatusRuns(box, "ntp"), ntp);
    EXPECT_GE(StatusRuns(box, "httpd"), httpd + 2);
    EXPECT_TRUE(box.LogLinesWhole());
}

// A status script removed, turned into a directory or into a dangling link is a bad result
// with exactly what the shell says about it; put back, the service is good again.
TEST_F(Faults, StatusScriptVanishingAtRunTime) {
    box.Start();
    ASSERT_GE(box.WaitForMessage(kHttpdCall), 0) << box.Dump();
    std::string script = box.Read(kHttpdScript);

    struct Case {
        const char* what;
        const char* breakScript;
    };
    const Case cases[] = {
        {"removed", "rm /etc/vigilerd/scripts/httpd"},
        {"a directory", "mkdir /etc/vigilerd/scripts/httpd"},
        {"a dangling link",
         "rmdir /etc/vigilerd/scripts/httpd && "
         "ln -s /nowhere/httpd /etc/vigilerd/scripts/httpd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(box.Exec(c.breakScript).code, 0);
        // The same command line through the same shell: what the daemon must have seen.
        ExecResult shell = box.Exec(std::string("/bin/sh -c '") + kHttpdScript + " status'");
        ASSERT_NE(shell.code, 0) << shell.output;
        int from = MessageCount(box);
        int call = box.WaitForMessage(kHttpdCall, kWait, from);
        std::string code = std::to_string(shell.code);
        EXPECT_TRUE(FollowsAt(
            box, call,
            {kHttpdCall, "Debug: Return value: " + code,
             "Warning: returnValue " + code + " (BAD RETURN) from cmd = " + kHttpdScript +
                 " status (" + shell.output + ")",
             "Error: ***WARNING*** unknown returnvalue " + code + " for ConfigConfiguration[7]",
             kTerminated}))
            << box.Dump();
    }

    ASSERT_EQ(box.Exec("rm /etc/vigilerd/scripts/httpd").code, 0);
    box.Write(kHttpdScript, script, 0755);
    int from = MessageCount(box);
    int call = box.WaitForMessage(kHttpdCall, kWait, from);
    EXPECT_TRUE(FollowsAt(box, call, {kHttpdCall, "Debug: Return value: 0", kTerminated}))
        << box.Dump();
    EXPECT_TRUE(box.Alive());
}

// The marker counts by what stat says: a directory is there, a dangling link is not.
TEST_F(Faults, HibernateMarkerAsDirectoryOrDanglingLink) {
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();

    box.Mkdir(kMarker);
    int from = MessageCount(box);
    box.Signal(SIGHUP);
    int set = box.WaitForMessage("Info: Hibernate mode has been set", kWait, from);
    ASSERT_GE(set, from) << box.Dump();
    ASSERT_GT(
        box.WaitForMessage("Info: scheduled for test loop but hibernate mode is set", kWait, set),
        set)
        << box.Dump();

    box.Remove(kMarker);
    ASSERT_EQ(box.Exec(std::string("ln -s /nowhere/marker ") + kMarker).code, 0);
    box.Signal(SIGHUP);
    int reset = box.WaitForMessage("Info: Hibernate mode has been reset", kWait, set);
    EXPECT_TRUE(FollowsAt(box, reset, {"Info: Hibernate mode has been reset", kRcPass}))
        << box.Dump();
    int resumed = box.WaitForMessage(kStarted, kWait, reset);
    ASSERT_GT(resumed, reset) << box.Dump();

    // Still only a dangling link: a plain hang-up is a wait.
    box.Signal(SIGHUP);
    int wait = box.WaitForMessage("Info: Wait mode has been set (40 seconds)", kWait, resumed);
    ASSERT_GT(wait, resumed) << box.Dump();
    EXPECT_GT(
        box.WaitForMessage("Info: scheduled for test loop but waiting mode is set", kWait, wait),
        wait)
        << box.Dump();
    EXPECT_TRUE(box.Alive());
}

// A watched file system unmounted and its mount point gone: its error line in every pass,
// the other file system and the services still checked; mounted again, the line stops.
TEST_F(Faults, WatchedFileSystemsUnmountedAtRunTime) {
    const std::string flashfsGone =
        "Error: Could not stat filesystem: /mnt/flashfs -> 2 = No such file or directory";
    const std::string bbramGone =
        "Error: Could not stat filesystem: /mnt/bbram -> 2 = No such file or directory";
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();

    // Unmounted, the mount point still there: it is a plain directory of /mnt now, which can
    // be examined like any other.
    ASSERT_EQ(box.Exec("umount /mnt/flashfs").code, 0);
    int from = MessageCount(box);
    int pass = box.WaitForMessage(kStarted, kWait, from);
    EXPECT_TRUE(FollowsAt(box, pass, {kStarted, kNtpCall})) << box.Dump();

    ASSERT_EQ(box.Exec("rmdir /mnt/flashfs").code, 0);
    from = MessageCount(box);
    for (int i = 0; i < 3; ++i) {
        pass = box.WaitForMessage(kStarted, kWait, from);
        EXPECT_TRUE(FollowsAt(box, pass, {kStarted, flashfsGone, kNtpCall})) << box.Dump();
        from = pass + 1;
    }

    // Both gone: voice mails first, and one failure never keeps the other from its check.
    ASSERT_EQ(box.Exec("umount /mnt/bbram && rmdir /mnt/bbram").code, 0);
    from = MessageCount(box);
    for (int i = 0; i < 2; ++i) {
        pass = box.WaitForMessage(kStarted, kWait, from);
        EXPECT_TRUE(FollowsAt(box, pass, {kStarted, bbramGone, flashfsGone, kNtpCall}))
            << box.Dump();
        from = pass + 1;
    }

    ASSERT_EQ(box.Exec("mkdir /mnt/bbram /mnt/flashfs && "
                       "mount -t tmpfs -o size=1024k tmpfs /mnt/bbram && "
                       "mount -t tmpfs -o size=1024k tmpfs /mnt/flashfs")
                  .code,
              0);
    from = MessageCount(box);
    pass = box.WaitForMessage(kStarted, kWait, from);
    EXPECT_TRUE(FollowsAt(box, pass, {kStarted, kNtpCall})) << box.Dump();
    EXPECT_TRUE(box.Alive());
}

// The archiver missing, then slow: the two lines frame its run either way, the daemon waits
// for it, and the reaction goes on to the fail command.
TEST_F(Faults, ArchiverMissingOrHanging) {
    box.Place("/etc/vigilerd/httpd",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/httpd\nGOOD_RET=0,\nBAD_RET=1,\n"
              "MAX_FAIL=1\n[failcmd1]\nFAIL_CMD=echo repaired >>/run/box/fail.log\n"
              "FAIL_CMD_GOOD_RETURN=0\n");
    box.Place(kHttpdScript, "#!/bin/sh\necho \"httpd $*\" >>/run/box/status.log\nexit 1\n", 0755);
    box.Unplace("/usr/bin/mainlogszipperforvigiler");
    box.Start();

    const std::vector<std::string> reaction = {
        kHttpdCall,
        "Debug: Return value: 1",
        "Warning: returnValue 1 (BAD RETURN) from cmd = /etc/vigilerd/scripts/httpd status ()",
        "Warning: current fails for httpd is 1 of max 1",
        kArchiving,
        "Done.",
        "Error: Executing the fail command echo repaired >>/run/box/fail.log",
        "Info: Fail Command successfully executed"};

    // Missing.
    EXPECT_TRUE(FollowsAt(box, box.WaitForMessage(kHttpdCall), reaction)) << box.Dump();
    ASSERT_TRUE(WaitUntil([&] { return CountLines(box, "/run/box/fail.log", "repaired") >= 1; }));

    // Hanging for three seconds.
    box.Write("/usr/bin/mainlogszipperforvigiler",
              "#!/bin/sh\necho begin >>/run/box/archive.log\nsleep 3\n"
              "echo end >>/run/box/archive.log\n",
              0755);
    int from = MessageCount(box);
    int call = box.WaitForMessage(kHttpdCall, kWait, from);
    ASSERT_GE(call, from) << box.Dump();
    int archiving = box.WaitForMessage(kArchiving, kWait, call);
    ASSERT_GT(archiving, call) << box.Dump();
    Clock::time_point seen = Clock::now();
    int done = box.WaitForMessage("Done.", kWait, archiving);
    double waited = std::chrono::duration<double>(Clock::now() - seen).count();
    ASSERT_GT(done, archiving) << box.Dump();
    EXPECT_EQ(done, archiving + 1);
    EXPECT_GT(waited, 2.0);
    // The daemon waited for the archiver's end before it went on.
    EXPECT_EQ(CountLines(box, "/run/box/archive.log", "end"), 1);
    EXPECT_TRUE(FollowsAt(box, call, reaction)) << box.Dump();
    EXPECT_TRUE(box.Alive());
}

// Status scripts that leave a process holding their output, or writing into it without end:
// the pass goes on as soon as the script has ended, each time, and the writer does not outlive
// the daemon's end of the pipe.
TEST_F(Faults, StatusScriptLeavingAWriterBehind) {
    box.Place(kHttpdScript,
              "#!/bin/sh\necho \"httpd $*\" >>/run/box/status.log\nsleep 30 &\n"
              "echo left a sleeper behind\nexit 2\n",
              0755);
    box.Place("/etc/vigilerd/scripts/ntp",
              "#!/bin/sh\necho \"ntp $*\" >>/run/box/status.log\nyes &\n"
              "echo $! >>/run/box/writers\nexit 0\n",
              0755);
    Clock::time_point start = Clock::now();
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 4)) << box.Dump();
    // Each sleeper holds the pipe for thirty seconds; four passes in well under that time.
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 15.0);

    int call = box.WaitForMessage(kNtpCall);
    EXPECT_TRUE(FollowsAt(
        box, call,
        {kNtpCall, "Debug: Return value: 0", kHttpdCall, "Debug: Return value: 2",
         "Warning: returnValue 2 (BAD RETURN) from cmd = "
         "/etc/vigilerd/scripts/httpd status (left a sleeper behind\n)",
         "Error: ***WARNING*** unknown returnvalue 2 for ConfigConfiguration[7]", kTerminated}))
        << box.Dump();

    // Every endless writer but the newest one has met the closed pipe and is gone.
    std::string text;
    ASSERT_TRUE(box.TryRead("/run/box/writers", &text));
    std::vector<pid_t> writers;
    std::istringstream in(text);
    for (pid_t pid; in >> pid;) {
        writers.push_back(pid);
    }
    ASSERT_GE(writers.size(), 3u);
    writers.pop_back();
    EXPECT_TRUE(WaitUntil([&] {
        for (pid_t pid : writers) {
            char state = ProcessState(pid);
            if (state != 0 && state != 'Z') {
                return false;
            }
        }
        return true;
    })) << "an endless writer outlived its pass";
    // Nothing the daemon ran is left unreaped under it.
    for (pid_t child : box.Children()) {
        EXPECT_NE(ProcessState(child), 'Z') << "zombie " << child;
    }
    EXPECT_TRUE(box.Alive());
}

// A fail command that starts a daemon of its own: that process begins with no signal ignored
// or blocked (SIGTERM and SIGINT end it), and the watchdog still goes to sleep on SIGTERM.
TEST_F(Faults, FailCommandStartingADaemon) {
    box.Place("/etc/vigilerd/httpd",
              "[basic]\nSCRIPT=/etc/vigilerd/scripts/httpd\nGOOD_RET=0,\nBAD_RET=1,\n"
              "MAX_FAIL=1\n[failcmd1]\n"
              "FAIL_CMD=setsid -f sh -c 'echo $$ >>/run/box/helpers; exec sleep 300' "
              "</dev/null >/dev/null 2>&1\n"
              "FAIL_CMD_GOOD_RETURN=0\n");
    // Bad at its first two runs, good from then on: two helpers are started.
    box.Place(kHttpdScript,
              "#!/bin/sh\necho \"httpd $*\" >>/run/box/status.log\n"
              "[ \"$(grep -c '^httpd' /run/box/status.log)\" -gt 2 ]\n",
              0755);
    box.Start();
    ASSERT_TRUE(box.WaitForCount("Info: Fail Command successfully executed", 2)) << box.Dump();

    std::vector<pid_t> helpers;
    ASSERT_TRUE(WaitUntil([&] {
        std::string text;
        helpers.clear();
        if (box.TryRead("/run/box/helpers", &text)) {
            std::istringstream in(text);
            for (pid_t pid; in >> pid;) {
                helpers.push_back(pid);
            }
        }
        return helpers.size() == 2;
    })) << box.Dump();
    for (pid_t helper : helpers) {
        ASSERT_TRUE(WaitUntil([&] {
            return HostFileText("/proc/" + std::to_string(helper) + "/cmdline").rfind("sleep", 0) ==
                   0;
        }));
        // The C library's spawn leaves its own reserved signals (32 up to SIGRTMIN) ignored;
        // no program of the box can use those.
        EXPECT_EQ(StatusMask(helper, "SigIgn") & ~ReservedSignals(), 0u) << "helper " << helper;
        EXPECT_EQ(StatusMask(helper, "SigBlk"), 0u) << "helper " << helper;
    }

    // Orphaned, the helpers came to this process (the box's reaper), which sees how they end.
    const int ending[] = {SIGTERM, SIGINT};
    for (size_t i = 0; i < helpers.size(); ++i) {
        ASSERT_EQ(kill(helpers[i], ending[i]), 0);
        int status = 0;
        bool reaped =
            WaitUntil([&] { return waitpid(helpers[i], &status, WNOHANG) == helpers[i]; });
        ASSERT_TRUE(reaped) << "helper " << helpers[i] << " state " << ProcessState(helpers[i]);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), ending[i]);
    }

    box.Signal(SIGTERM);
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<std::string> messages = box.Messages();
        return !messages.empty() &&
               messages.back() == "Info: got sleep signal. Ignoring all signals and going to sleep";
    })) << box.Dump();
    EXPECT_FALSE(box.Exists("/run/vigilerd.pid"));
    EXPECT_TRUE(box.Alive());
}

// The system logger killed, restarted, then replaced by one that hangs up on every record,
// each time while a space alert is raised: no signal reaches the daemon, checking goes on, and
// every listener that is there gets its alert.
TEST_F(Faults, SystemLoggerGoneRestartedOrHangingUp) {
    box.InstallTool("hangup_listener");
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();
    ASSERT_TRUE(box.AlertRecords().empty());

    // The box's own listener on a fresh /dev/log. It ends the box when its parent dies, so its
    // parent is a shell that only waits for it.
    auto startSink = [&] {
        ASSERT_EQ(box.Exec("sh -c '/run/.box/syslog_sink /dev/log /run/box/syslog.log $$ & "
                           "echo $! >/run/box/sink.pid; wait' </dev/null >/dev/null 2>&1 &")
                      .code,
                  0);
        ASSERT_TRUE(WaitUntil(
            [&] { return box.Exec("[ -S /dev/log ] && [ -s /run/box/sink.pid ]").code == 0; }));
    };
    auto passesGoOn = [&](int more) {
        int now = box.Count(kTerminated);
        return box.WaitForCount(kTerminated, now + more);
    };

    // Gone: the listener dies, the socket stays with nobody behind it.
    pid_t sink = static_cast<pid_t>(atoi(box.Read("/run/.box/sink.pid").c_str()));
    ASSERT_GT(sink, 0);
    ASSERT_EQ(kill(sink, SIGKILL), 0);
    ASSERT_TRUE(WaitUntil([&] {
        char state = ProcessState(sink);
        return state == 0 || state == 'Z';
    }));
    int low = FillTo(box, "/mnt/bbram", 7, "low");
    ASSERT_EQ(low, 7);
    ASSERT_TRUE(passesGoOn(3)) << box.Dump();
    EXPECT_TRUE(box.Alive());
    EXPECT_TRUE(box.AlertRecords().empty());

    // Restarted: a new listener on a new socket gets the next alert.
    ASSERT_EQ(box.Exec("rm -f /dev/log").code, 0);
    startSink();
    int critical = FillTo(box, "/mnt/bbram", 1, "critical");
    ASSERT_LT(critical, 5);
    EXPECT_GE(box.WaitForAlert("Software Watchdog: Warning: Running critically low on file "
                               "system space for voice mails. " +
                               PercentText(critical) + " percent left."),
              0)
        << box.Dump();
    ASSERT_TRUE(passesGoOn(2)) << box.Dump();

    // Hanging up: that listener dies as well, and a stream listener takes its place that
    // drops every connection after one record, so the second alert meets a connection closed
    // at the far end.
    pid_t restarted = static_cast<pid_t>(atoi(box.Read("/run/box/sink.pid").c_str()));
    ASSERT_GT(restarted, 0);
    ASSERT_EQ(kill(restarted, SIGKILL), 0);
    ASSERT_EQ(box.Exec("rm -f /dev/log; hangup_listener /dev/log /run/box/hangup.log "
                       "</dev/null >/dev/null 2>&1 & echo $! >/run/box/hangup.pid")
                  .code,
              0);
    ASSERT_TRUE(WaitUntil([&] { return box.Exec("[ -S /dev/log ]").code == 0; }));
    auto heard = [&](const std::string& record) {
        return WaitUntil([&] {
            std::string text;
            return box.TryRead("/run/box/hangup.log", &text) &&
                   text.find(record + "\n") != std::string::npos;
        });
    };
    int configLow = FillTo(box, "/mnt/flashfs", 7, "low");
    ASSERT_EQ(configLow, 7);
    EXPECT_TRUE(
        heard("Software Watchdog: Warning: Running low on file system space for "
              "configuration data. " +
              PercentText(configLow) + " percent left."))
        << box.Dump();
    int configCritical = FillTo(box, "/mnt/flashfs", 1, "critical");
    ASSERT_LT(configCritical, 5);
    EXPECT_TRUE(
        heard("Software Watchdog: Warning: Running critically low on file system "
              "space for configuration data. " +
              PercentText(configCritical) + " percent left."))
        << box.Dump();
    ASSERT_TRUE(passesGoOn(3)) << box.Dump();

    // A datagram listener once more, after the stream one: the voice mails leave the low band
    // and enter it again, and that alert arrives.
    pid_t hangup = static_cast<pid_t>(atoi(box.Read("/run/box/hangup.pid").c_str()));
    ASSERT_GT(hangup, 0);
    ASSERT_EQ(kill(hangup, SIGKILL), 0);
    ASSERT_EQ(box.Exec("rm -f /dev/log /mnt/bbram/low /mnt/bbram/critical /run/box/sink.pid").code,
              0);
    startSink();
    ASSERT_TRUE(passesGoOn(2)) << box.Dump();
    int again = FillTo(box, "/mnt/bbram", 7, "again");
    ASSERT_EQ(again, 7);
    EXPECT_GE(box.WaitForAlert("Software Watchdog: Warning: Running low on file system space for "
                               "voice mails. " +
                               PercentText(again) + " percent left."),
              0)
        << box.Dump();
    ASSERT_TRUE(passesGoOn(2)) << box.Dump();
    EXPECT_TRUE(box.Alive());
    EXPECT_EQ(box.Stderr(), "");
    EXPECT_TRUE(box.LogLinesWhole());
}

// A system logger that stops reading: its queue fills with alerts, and the checks go on all the
// same (an alert that finds the queue full is dropped). Reading again, it gets the next one.
TEST_F(Faults, SystemLoggerThatStopsReading) {
    box.Start();
    ASSERT_TRUE(box.WaitForCount(kTerminated, 1)) << box.Dump();
    pid_t sink = static_cast<pid_t>(atoi(box.Read("/run/.box/sink.pid").c_str()));
    ASSERT_GT(sink, 0);
    int queue = atoi(box.Exec("cat /proc/sys/net/unix/max_dgram_qlen").output.c_str());
    ASSERT_GT(queue, 0);
    ASSERT_EQ(kill(sink, SIGSTOP), 0);

    // Both file systems in and out of the critical band: two alerts every two passes, until
    // more alerts were raised than the stopped logger's queue holds.
    for (int raised = 0; raised <= queue + 2; raised += 2) {
        ASSERT_EQ(FillTo(box, "/mnt/bbram", 1, "full"), 1);
        ASSERT_EQ(FillTo(box, "/mnt/flashfs", 1, "full"), 1);
        int passes = box.Count(kTerminated);
        ASSERT_TRUE(box.WaitForCount(kTerminated, passes + 1)) << "raised " << raised << "\n"
                                                               << box.Dump();
        ASSERT_EQ(box.Exec("rm /mnt/bbram/full /mnt/flashfs/full").code, 0);
        passes = box.Count(kTerminated);
        ASSERT_TRUE(box.WaitForCount(kTerminated, passes + 1)) << "raised " << raised << "\n"
                                                               << box.Dump();
    }
    EXPECT_TRUE(box.Alive());

    ASSERT_EQ(kill(sink, SIGCONT), 0);
    ASSERT_TRUE(WaitUntil([&] { return box.AlertRecords().size() >= static_cast<size_t>(queue); }))
        << box.Dump();
    size_t before = box.AlertRecords().size();
    int share = FillTo(box, "/mnt/bbram", 7, "low");
    ASSERT_EQ(share, 7);
    EXPECT_GE(box.WaitForAlert("Software Watchdog: Warning: Running low on file system space for "
                               "voice mails. " +
                                   PercentText(share) + " percent left.",
                               kWait, static_cast<int>(before)),
              static_cast<int>(before))
        << box.Dump();
    EXPECT_TRUE(box.Alive());
}

// A status script sees exactly the standard descriptors the daemon gave it: nothing of the
// daemon's own (log, sockets, pipes) leaks into its children.
TEST_F(Faults, StatusScriptSeesOnlyItsStandardDescriptors) {
    box.Place(kHttpdScript, "#!/bin/sh\nls -l /proc/$$/fd\nexit 2\n", 0755);
    box.Start();
    int call = box.WaitForMessage(kHttpdCall);
    ASSERT_GE(call, 0) << box.Dump();
    int warning = box.WaitForMessageContaining("Warning: returnValue 2 (BAD RETURN)", kWait, call);
    ASSERT_EQ(warning, call + 2) << box.Dump();
    std::string output = box.Messages()[warning];

    std::map<int, std::string> descriptors;
    std::regex entry(R"( (\d+) -> (.*)$)");
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (std::regex_search(line, match, entry)) {
            descriptors[std::stoi(match[1])] = match[2];
        }
    }
    // The shell keeps a descriptor of its own on the script it reads (above the standard
    // ones, close-on-exec); that one is the interpreter's, not the daemon's.
    for (auto it = descriptors.begin(); it != descriptors.end();) {
        if (it->first > 2 && it->second == kHttpdScript) {
            it = descriptors.erase(it);
        } else {
            ++it;
        }
    }
    ASSERT_EQ(descriptors.size(), 3u) << output;
    EXPECT_EQ(descriptors[0], "/dev/null");
    EXPECT_TRUE(std::regex_match(descriptors[1], std::regex(R"(pipe:\[\d+\])"))) << output;
    EXPECT_EQ(descriptors[2], descriptors[1]);
    EXPECT_TRUE(box.Alive());
}

}  // namespace
}  // namespace e2e
