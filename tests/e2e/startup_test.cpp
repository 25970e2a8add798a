// End-to-end start-up of the real daemon: the log line form, the pid file, the order of the
// first steps, and the two fatal conditions that leave the daemon asleep for good.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "box.h"

namespace e2e {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;

// The set of signals that /proc/PID/status lists as ignored.
unsigned long long IgnoredSignals(pid_t pid) {
    std::istringstream in(HostFileText("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 7, "SigIgn:") == 0) {
            return std::stoull(line.substr(7), nullptr, 16);
        }
    }
    return 0;
}

bool Ignores(pid_t pid, int sig) {
    return (IgnoredSignals(pid) >> (sig - 1)) & 1ULL;
}

// Sends the three handled signals to a daemon that sleeps for good, then watches it for a
// while: it must neither die nor print nor log anything.
void ExpectSignalsIgnored(Box& box) {
    for (int sig : {SIGHUP, SIGTERM, SIGALRM, SIGCHLD}) {
        EXPECT_TRUE(Ignores(box.Pid(), sig)) << "signal " << sig << " is not ignored";
    }
    std::string err = box.Stderr();
    std::string log = box.LogText();
    for (int sig : {SIGHUP, SIGTERM, SIGALRM, SIGHUP, SIGALRM}) {
        box.Signal(sig);
    }
    bool changed =
        WaitUntil([&] { return !box.Alive() || box.Stderr() != err || box.LogText() != log; },
                  milliseconds(1500));
    EXPECT_FALSE(changed) << "the daemon reacted to a signal while asleep for good";
    EXPECT_TRUE(box.Alive());
    EXPECT_EQ(box.Stderr(), err);
    EXPECT_EQ(box.LogText(), log);
}

class StartupTest : public BoxTest {};

// Every line: the 24-character ctime text of a moment during the test, " [pid] ", message.
TEST_F(StartupTest, LogLinesCarryTheCtimeTextAndTheDaemonPid) {
    time_t before = time(nullptr);
    box.Start();
    ASSERT_GE(box.WaitForMessage("Info: started"), 0);
    ASSERT_GE(box.WaitForMessage("Info: (Re)reading rc.conf."), 0);
    time_t after = time(nullptr);

    EXPECT_TRUE(box.LogLinesWhole());
    std::string prefixEnd = " [" + std::to_string(box.Pid()) + "] ";
    for (const std::string& line : box.LogLines()) {
        ASSERT_GE(line.size(), 24 + prefixEnd.size()) << line;
        EXPECT_EQ(line.substr(24, prefixEnd.size()), prefixEnd) << line;
        // The time text parses, lies within the test and is exactly what ctime_r makes of it.
        std::string timeText = line.substr(0, 24);
        struct tm parsed;
        memset(&parsed, 0, sizeof parsed);
        const char* end = strptime(timeText.c_str(), "%a %b %d %H:%M:%S %Y", &parsed);
        ASSERT_NE(end, nullptr) << timeText;
        EXPECT_EQ(*end, '\0') << timeText;
        parsed.tm_isdst = -1;
        time_t when = mktime(&parsed);
        EXPECT_GE(when, before - 1) << timeText;
        EXPECT_LE(when, after + 1) << timeText;
        char rendered[32];
        ASSERT_NE(ctime_r(&when, rendered), nullptr);
        EXPECT_EQ(std::string(rendered, 24), timeText);
        EXPECT_EQ(rendered[24], '\n');
    }
    EXPECT_EQ(box.Messages().at(0), "Info: started");
    EXPECT_TRUE(box.Alive());
}

// The log is opened first, then the pid file is created, written and closed, and only then
// is "Info: started" logged: the kernel reports the file events in the order they happen.
TEST_F(StartupTest, PidFileIsWrittenBeforeStartedIsLogged) {
    int watcher = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watcher, 0);
    box.BeforeCommand([&](Box& b) {
        for (const char* dir : {"/run", "/var/log"}) {
            int fd = b.OpenPath(dir, O_PATH | O_DIRECTORY);
            ASSERT_GE(fd, 0) << dir;
            std::string host = "/proc/self/fd/" + std::to_string(fd);
            EXPECT_GE(
                inotify_add_watch(watcher, host.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE), 0)
                << dir << ": " << strerror(errno);
            close(fd);
        }
    });
    box.Start();
    ASSERT_GE(box.WaitForMessage("Info: started"), 0);

    std::vector<std::string> events;
    alignas(inotify_event) char buffer[65536];
    ssize_t n;
    while ((n = read(watcher, buffer, sizeof buffer)) > 0) {
        for (char* p = buffer; p < buffer + n;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            std::string name = event->len > 0 ? event->name : "";
            if (name == "vigilerd.log" || name == "vigilerd.pid") {
                const char* what = (event->mask & IN_CREATE)   ? "create"
                                   : (event->mask & IN_MODIFY) ? "modify"
                                                               : "close";
                std::string entry = name + " " + what;
                if (events.empty() || events.back() != entry) {
                    events.push_back(entry);  // one write may show up as several modify events
                }
            }
            p += sizeof(inotify_event) + event->len;
        }
    }
    close(watcher);
    // Everything up to the first line of the log; later lines only add more "modify" events.
    ASSERT_GE(events.size(), 5u);
    events.resize(5);
    EXPECT_THAT(events,
                ElementsAre("vigilerd.log create", "vigilerd.pid create", "vigilerd.pid modify",
                            "vigilerd.pid close", "vigilerd.log modify"));
    EXPECT_EQ(box.Read("/var/run/vigilerd.pid"), std::to_string(box.Pid()) + "\n");
}

// A second run appends to the log of the first and replaces the first run's pid file.
TEST_F(StartupTest, RestartAppendsToTheLogAndOverwritesTheOldPidFile) {
    const std::string earlier = "Thu Jan  1 00:00:07 2026 [4242] Info: started\n";
    box.Place("/var/log/vigilerd.log", earlier)
        .Place("/var/run/vigilerd.pid", "4242\nleft over from a much earlier run\n");
    box.Start();
    ASSERT_GE(box.WaitForMessage("Info: started", kWait, 1), 1);
    ASSERT_GE(box.WaitForMessage("Info: (Re)reading rc.conf."), 0);

    EXPECT_EQ(box.LogText().substr(0, earlier.size()), earlier);
    EXPECT_EQ(box.LogLines().at(0) + "\n", earlier);
    EXPECT_TRUE(box.LogLinesWhole(1));
    EXPECT_EQ(box.Messages().at(1), "Info: started");
    EXPECT_EQ(box.Read("/run/vigilerd.pid"), std::to_string(box.Pid()) + "\n");
}

struct Unopenable {
    const char* name;
    std::function<void(Box&)> arrange;
    int error;
};

void PrintTo(const Unopenable& param, std::ostream* out) {
    *out << param.name;
}

// The log cannot be opened: two lines on standard error (no time stamp, the real error
// number and text), no pid file, and a process that sleeps for good, deaf to every signal.
class LogNotOpenable : public StartupTest, public ::testing::WithParamInterface<Unopenable> {};

TEST_P(LogNotOpenable, TwoLinesOnStandardErrorAndSleepsForGood) {
    GetParam().arrange(box);
    box.Start();
    std::string expected = "Fatal Error: Could not open logfile /var/log/vigilerd.log. (" +
                           std::to_string(GetParam().error) + " = " + strerror(GetParam().error) +
                           ")\nWarning: Sleeping forever\n";
    EXPECT_TRUE(WaitUntil([&] { return box.Stderr() == expected; })) << box.Stderr();
    // Asleep for good: the signals are ignored once the second line is out.
    ASSERT_TRUE(WaitUntil([&] { return Ignores(box.Pid(), SIGTERM); }));

    EXPECT_EQ(box.Stderr(), expected);
    EXPECT_EQ(box.Stdout(), "");
    EXPECT_FALSE(box.Exists("/run/vigilerd.pid"));
    EXPECT_TRUE(box.Alive());
    ExpectSignalsIgnored(box);
    EXPECT_FALSE(box.Exists("/run/vigilerd.pid"));
}

INSTANTIATE_TEST_SUITE_P(
    StartupTest, LogNotOpenable,
    ::testing::Values(
        Unopenable{"LogIsADirectory", [](Box& b) { b.PlaceDir("/var/log/vigilerd.log"); }, EISDIR},
        Unopenable{"LogDirectoryReadOnly",
                   [](Box& b) { b.Prepare("mount -o remount,ro /var/log"); }, EROFS},
        Unopenable{"LogIsALinkIntoNowhere",
                   [](Box& b) { b.Prepare("ln -s /var/log/missing/vigilerd.log /var/log/"); },
                   ENOENT}),
    [](const ::testing::TestParamInfo<Unopenable>& info) { return info.param.name; });

// The pid file cannot be created: the two lines go to the log, nothing to standard error,
// and the process sleeps for good.
class PidFileNotCreatable : public StartupTest, public ::testing::WithParamInterface<Unopenable> {};

TEST_P(PidFileNotCreatable, TwoLogLinesAndSleepsForGood) {
    GetParam().arrange(box);
    box.Start();
    ASSERT_TRUE(box.WaitForCount("Warning: Sleeping forever", 1));
    ASSERT_TRUE(WaitUntil([&] { return Ignores(box.Pid(), SIGTERM); }));

    EXPECT_THAT(
        box.Messages(),
        ElementsAre("Fatal Error: Could not open pidfile /var/run/vigilerd.pid. (" +
                        std::to_string(GetParam().error) + " = " + strerror(GetParam().error) + ")",
                    "Warning: Sleeping forever"));
    EXPECT_TRUE(box.LogLinesWhole());
    EXPECT_EQ(box.Stderr(), "");
    EXPECT_TRUE(box.Alive());
    ExpectSignalsIgnored(box);
    EXPECT_EQ(box.Messages().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    StartupTest, PidFileNotCreatable,
    ::testing::Values(
        Unopenable{"PidFileIsADirectory", [](Box& b) { b.PlaceDir("/run/vigilerd.pid"); }, EISDIR},
        Unopenable{"PidFileIsALinkIntoNowhere",
                   [](Box& b) { b.Prepare("ln -s /run/missing/vigilerd.pid /run/"); }, ENOENT}),
    [](const ::testing::TestParamInfo<Unopenable>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
