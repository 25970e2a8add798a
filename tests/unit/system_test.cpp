// Command runner: exit statuses, captured output, the child's start state and clean-up.
// Runs real shells; every command is bounded in time so a fault shows as a failure, not a hang.
#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Children of this process that have ended but were not reaped.
std::vector<int> ZombieChildren() {
    std::vector<int> zombies;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        ADD_FAILURE() << "cannot list /proc";
        return zombies;
    }
    while (dirent* entry = readdir(proc)) {
        int pid = atoi(entry->d_name);
        if (pid <= 0) {
            continue;
        }
        std::string stat = test::ReadFile("/proc/" + std::string(entry->d_name) + "/stat");
        size_t close = stat.rfind(')');  // the command name may hold blanks and parentheses
        if (close == std::string::npos || close + 4 > stat.size()) {
            continue;
        }
        char state = stat[close + 2];
        int parent = atoi(stat.c_str() + close + 4);
        if (parent == getpid() && state == 'Z') {
            zombies.push_back(pid);
        }
    }
    closedir(proc);
    return zombies;
}

size_t OpenDescriptorCount() {
    size_t count = 0;
    DIR* fds = opendir("/proc/self/fd");
    while (fds != nullptr && readdir(fds) != nullptr) {
        ++count;
    }
    if (fds != nullptr) {
        closedir(fds);
    }
    return count;
}

void KillPidFrom(const std::string& path) {
    int pid = atoi(test::ReadFile(path).c_str());
    if (pid > 1) {
        kill(pid, SIGKILL);
    }
    test::RemovePath(path);
}

// Puts a signal's disposition back when the test ends, whatever happens.
class DispositionGuard {
  public:
    DispositionGuard(int signal, void (*handler)(int), int flags = 0) : signal_(signal) {
        struct sigaction action = {};
        action.sa_handler = handler;
        action.sa_flags = flags;
        sigemptyset(&action.sa_mask);
        sigaction(signal_, &action, &saved_);
    }
    ~DispositionGuard() { sigaction(signal_, &saved_, nullptr); }

  private:
    int signal_;
    struct sigaction saved_;
};

class MaskGuard {
  public:
    explicit MaskGuard(std::initializer_list<int> signals) {
        sigset_t block;
        sigemptyset(&block);
        for (int signal : signals) {
            sigaddset(&block, signal);
        }
        pthread_sigmask(SIG_BLOCK, &block, &saved_);
    }
    ~MaskGuard() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

  private:
    sigset_t saved_;
};

struct StatusCase {
    const char* command;
    int status;
    const char* output;
};

TEST(System, ReturnsExitCodeOrSignalAndKeepsWhatWasPrintedBefore) {
    const StatusCase cases[] = {
        {"exit 0", 0, ""},
        {"exit 3", 3, ""},
        {"exit 255", 255, ""},
        {"false", 1, ""},
        {"echo before; kill -TERM $$; echo after", 128 + SIGTERM, "before\n"},
        {"kill -KILL $$", 128 + SIGKILL, ""},
        {"kill -USR1 $$", 128 + SIGUSR1, ""},
        {"exec no-such-command-here 2>/dev/null", 127, ""},
        {"printf 'a b\\tc'; exit 42", 42, "a b\tc"},
    };
    for (const StatusCase& c : cases) {
        std::string output = "stale";
        EXPECT_EQ(System(c.command, output), c.status) << c.command;
        EXPECT_EQ(output, c.output) << c.command;
    }
}

TEST(System, MergesStdoutAndStderrInOrderAndReplacesTheOutput) {
    std::string output = "left over from an earlier command\n";
    EXPECT_EQ(System("echo one; echo two >&2; echo three; echo four 1>&2", output), 0);
    EXPECT_EQ(output, "one\ntwo\nthree\nfour\n");

    EXPECT_EQ(System("echo again", output), 0);
    EXPECT_EQ(output, "again\n");
    EXPECT_EQ(System("true", output), 0);
    EXPECT_EQ(output, "");

    // The shared sink stays empty however much is printed into it.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(System("echo noise; echo more noise >&2", emptyResult), 0);
    }
    EXPECT_EQ(emptyResult, "");
    EXPECT_EQ(emptyResult.capacity(), std::string().capacity());
}

TEST(System, KeepsTheFirst4KiBAndDrainsTheRestSoTheCommandFinishes) {
    std::string output;
    EXPECT_EQ(System("head -c 4096 /dev/zero | tr '\\0' a", output), 0);
    EXPECT_EQ(output, std::string(4096, 'a'));

    EXPECT_EQ(System("head -c 4097 /dev/zero | tr '\\0' b", output), 0);
    EXPECT_EQ(output, std::string(kMaxCommandOutput, 'b'));

    // 8 MiB through a 64 KiB pipe: the command only reaches "exit 7" if every byte is read.
    Clock::time_point start = Clock::now();
    EXPECT_EQ(System("head -c 8388608 /dev/zero | tr '\\0' c; echo tail >&2; exit 7", output), 7);
    EXPECT_EQ(output, std::string(kMaxCommandOutput, 'c'));
    EXPECT_LT(SecondsSince(start), 20.0);
}

TEST(System, ReturnsWhenTheShellEndsThoughABackgroundProcessHoldsThePipe) {
    const std::string sleeper = "/run/unit-system-sleeper.pid";
    Clock::time_point start = Clock::now();
    std::string output;
    EXPECT_EQ(System("sleep 100 & echo $! > " + sleeper + "; echo hi", output), 0);
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_EQ(output, "hi\n");
    KillPidFrom(sleeper);

    // A background writer that never stops cannot hold System either.
    const std::string writer = "/run/unit-system-writer.pid";
    start = Clock::now();
    EXPECT_EQ(System("yes & echo $! > " + writer + "; sleep 0.2; exit 5", output), 5);
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(output.size(), kMaxCommandOutput);
    EXPECT_EQ(output.substr(0, 4), "y\ny\n");
    KillPidFrom(writer);
}

TEST(System, LeavesNoZombieAndNoDescriptorBehind) {
    size_t descriptors = OpenDescriptorCount();
    std::string output;
    System("exit 1", output);
    System("kill -KILL $$", output);
    System("sleep 0.1 & echo quick", output);
    System("echo x >&2; sleep 0.05", emptyResult);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_THAT(ZombieChildren(), testing::IsEmpty());
}

TEST(System, ChildStartsWithDefaultSignalsEvenWhenTheCallerIgnoresAndBlocksThem) {
    DispositionGuard ignoreInt(SIGINT, SIG_IGN);
    DispositionGuard ignoreTerm(SIGTERM, SIG_IGN);
    DispositionGuard ignorePipe(SIGPIPE, SIG_IGN);
    MaskGuard blocked({SIGINT, SIGTERM, SIGHUP, SIGALRM, SIGUSR1});

    std::string output;
    EXPECT_EQ(System("kill -INT $$; echo survived", output), 128 + SIGINT);
    EXPECT_EQ(output, "");
    EXPECT_EQ(System("kill -TERM $$; echo survived", output), 128 + SIGTERM);
    EXPECT_EQ(output, "");
    // The whole state as the kernel reports it, nothing blocked and nothing ignored, not even
    // the C library's reserved real-time signals. Read with builtins only: a shell blocks
    // signals itself while it waits for a child.
    EXPECT_EQ(System("while read k v; do case $k in SigBlk:|SigIgn:) echo $k$v;; esac; done "
                     "</proc/$$/status",
                     output),
              0);
    EXPECT_EQ(output, "SigBlk:0000000000000000\nSigIgn:0000000000000000\n");
}

// Makes the caller's stdin a pipe holding some text, so a child that inherited it would show.
class StdinGuard {
  public:
    StdinGuard() : saved_(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3)) {
        int ends[2];
        if (pipe(ends) == 0) {
            EXPECT_EQ(write(ends[1], "caller's input\n", 15), 15);
            close(ends[1]);
            dup2(ends[0], STDIN_FILENO);
            close(ends[0]);
        }
    }
    ~StdinGuard() {
        if (saved_ >= 0) {
            dup2(saved_, STDIN_FILENO);
            close(saved_);
        } else {
            close(STDIN_FILENO);
        }
    }

  private:
    int saved_;
};

TEST(System, ChildReadsDevNullAndHoldsOnlyTheThreeStandardDescriptors) {
    StdinGuard callerInput;
    Clock::time_point start = Clock::now();
    std::string output;
    EXPECT_EQ(System("cat", output), 0);
    EXPECT_EQ(output, "");
    EXPECT_LT(SecondsSince(start), 3.0);

    EXPECT_EQ(System("readlink /proc/$$/fd/0", output), 0);
    EXPECT_EQ(output, "/dev/null\n");
    EXPECT_EQ(System("test \"$(readlink /proc/$$/fd/1)\" = \"$(readlink /proc/$$/fd/2)\" && "
                     "readlink /proc/$$/fd/1 | grep -c '^pipe:'",
                     output),
              0);
    EXPECT_EQ(output, "1\n");

    // An inheritable descriptor of the caller's (as a careless library might leave) must not
    // reach the child either. ls lists 0, 1, 2 and 3, its own handle on the directory.
    int stray = open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 3);
    EXPECT_EQ(System("exec ls /proc/self/fd", output), 0);
    EXPECT_EQ(output, "0\n1\n2\n3\n");
    close(stray);
}

TEST(System, IgnoredSigchldGivesMinusOneWithoutHanging) {
    DispositionGuard ignoreChild(SIGCHLD, SIG_IGN);
    Clock::time_point start = Clock::now();
    std::string output;
    EXPECT_EQ(System("exit 3", output), -1);
    EXPECT_EQ(System("sleep 0.3; echo late; exit 3", output), -1);
    EXPECT_EQ(output, "late\n");
    EXPECT_LT(SecondsSince(start), 5.0);
}

void CountSignal(int) {}

TEST(System, InterruptionsBySignalsChangeNothing) {
    DispositionGuard handler(SIGALRM, CountSignal);  // no SA_RESTART: every wait sees EINTR
    struct itimerval often = {{0, 2000}, {0, 2000}};
    struct itimerval off = {};
    setitimer(ITIMER_REAL, &often, nullptr);
    std::string output;
    int status = System("sleep 0.3; echo done; exit 4", output);
    setitimer(ITIMER_REAL, &off, nullptr);
    EXPECT_EQ(status, 4);
    EXPECT_EQ(output, "done\n");
}

TEST(System, ConcurrentCallersEachGetTheirOwnOutput) {
    const int kThreads = 4;
    const int kRuns = 15;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int run = 0; run < kRuns; ++run) {
                std::string expected =
                    "thread " + std::to_string(t) + " run " + std::to_string(run) + "\n";
                std::string output;
                int status = System("printf '" + expected.substr(0, expected.size() - 1) +
                                        "\\n'; exit " + std::to_string(t),
                                    output);
                System("echo discarded", emptyResult);
                if (status != t || output != expected) {
                    ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_THAT(mismatches, testing::Each(0));
    EXPECT_EQ(emptyResult, "");
    EXPECT_THAT(ZombieChildren(), testing::IsEmpty());
}

}  // namespace

namespace {

// Whether any live (not zombie) process is still in process group `group`.
bool GroupRunning(pid_t group) {
    DIR* proc = opendir("/proc");
    bool running = false;
    while (proc != nullptr && !running) {
        dirent* entry = readdir(proc);
        if (entry == nullptr) {
            break;
        }
        std::string stat = test::ReadFile("/proc/" + std::string(entry->d_name) + "/stat");
        size_t close = stat.rfind(')');
        char state = 0;
        int parent = 0, pgrp = 0;
        running = close != std::string::npos &&
                  sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &parent, &pgrp) == 3 &&
                  pgrp == group && state != 'Z';
    }
    if (proc != nullptr) {
        closedir(proc);
    }
    return running;
}

struct LimitCase {
    const char* command;  // prints the shell's pid (its group) first
    int limit;
    int status;
    const char* outputAfterPid;
    double atLeast, below;  // seconds the call may take
};

// A limit ends the shell's whole group, keeps what was printed so far and answers 124; a shell
// that ignores SIGTERM gets SIGKILL two seconds later; a command within its limit is untouched.
TEST(System, TimeLimitEndsTheWholeGroup) {
    const LimitCase cases[] = {
        {"echo $$; echo before; sleep 60 & sleep 60", 1, 124, "before\n", 0.9, 5},
        {"echo $$; trap '' TERM; sleep 60", 1, 124, "", 2.9, 8},
        {"echo $$; echo quick; exit 3", 5, 3, "quick\n", 0, 5},
        {"echo $$; sleep 1; exit 4", 0, 4, "", 0.9, 5},
    };
    for (const LimitCase& c : cases) {
        std::string output;
        bool timedOut = false;
        auto start = Clock::now();
        int status = System(c.command, output, c.limit, &timedOut);
        double took = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_EQ(status, c.status) << c.command;
        EXPECT_EQ(timedOut, c.status == kTimedOutStatus) << c.command;
        EXPECT_GE(took, c.atLeast) << c.command;
        EXPECT_LT(took, c.below) << c.command;
        size_t newline = output.find('\n');
        ASSERT_NE(newline, std::string::npos) << c.command;
        EXPECT_EQ(output.substr(newline + 1), c.outputAfterPid) << c.command;
        pid_t group = static_cast<pid_t>(std::stol(output.substr(0, newline)));
        // Nothing of the group is left: the background sleep ended with the shell.
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (GroupRunning(group) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_FALSE(GroupRunning(group)) << c.command;
    }
}

}  // namespace
