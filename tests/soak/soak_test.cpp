// Soak test: the real daemon in a box for minutes to hours, all thirteen services on with mixed
// outcomes, pokes from outside, and its descriptors, threads, memory and children watched.
//
// ctest runs the short version (label "soak"; the duration is the build's SOAK_SECONDS):
//     ctest -L soak --output-on-failure
// A long run by hand, from the build directory, as root (the seed repeats a schedule):
//     nice ./tests/soak_test --soak-seconds=3600 [--soak-seed=N]
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "box.h"

namespace {

#ifndef SOAK_SECONDS
#define SOAK_SECONDS 180
#endif

// From the command line; 0 seed means a fresh one.
long soakSeconds = SOAK_SECONDS;
unsigned long soakSeed = 0;

}  // namespace

namespace e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

constexpr const char* kMarker = "/tmp/hibernateMode";
constexpr const char* kTerminated = "Debug: Thread CheckAllStati terminated";
constexpr const char* kStarted = "Debug: Thread CheckAllStati started";
constexpr const char* kArchiveStart = "OK, let's try to archive some important logs first...";
constexpr const char* kArchiveDone = "Done.";
constexpr const char* kEscalations = "/run/box/soak.escalations";
constexpr int kWaitModeSeconds = 40;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// ------------------------------------------------------------------ the services

// Bytes 128 to 255 (no valid UTF-8 among them), then every byte from NUL on: what reaches the
// log is the text up to the NUL, so the logged line stays one line.
std::string BinaryOutput() {
    std::string bytes;
    for (int c = 128; c < 256; ++c) {
        bytes += static_cast<char>(c);
    }
    for (int c = 0; c < 256; ++c) {
        bytes += static_cast<char>(c);
    }
    return bytes;
}

std::string HighBytes() {
    return BinaryOutput().substr(0, 128);
}

// 100 KB in one line, far more than the daemon keeps of a command's output.
std::string BigOutput() {
    std::string text;
    while (text.size() < 100 * 1024) {
        text += "0123456789abcdef";
    }
    return text;
}

struct Service {
    const char* name;
    // Body of the status script; $n is the number of this run, counted from 1.
    const char* script;
    // The [basic] keys after SCRIPT and the [failcmdN] sections.
    const char* settings;
    // The exit status of run n is cycle[(n - 1) % size].
    std::vector<int> cycle;
};

// Every outcome the daemon knows, on thirteen rows: good; bad with and without a fail
// command; a value with no record; flapping; escalating; big and binary output; shells killed
// by signals; fail commands that succeed and that fail.
const std::vector<Service>& Services() {
    static const std::vector<Service> services = {
        {"ppp",
         "exit 0\n",
         "GOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=3\n[failcmd1]\nFAIL_CMD=/bin/true\n"
         "FAIL_CMD_GOOD_RETURN=0\n",
         {0}},
        {"dhclient",
         "exit 1\n",
         "GOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=2\n[failcmd1]\nFAIL_CMD=/bin/true\n"
         "FAIL_CMD_GOOD_RETURN=0\n",
         {1}},
        // Bad without any fail command.
        {"ipsec", "exit 3\n", "GOOD_RET=0,\nMAX_FAIL=2\n", {3}},
        {"dhcpd_lan",
         "[ $((n % 2)) -eq 0 ] && exit 1\nexit 0\n",
         "GOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=1\n[failcmd1]\nFAIL_CMD=/bin/true\n"
         "FAIL_CMD_GOOD_RETURN=0\n",
         {0, 1}},
        // The fail command never repairs, so from the third failure on every one escalates.
        {"named",
         "exit 1\n",
         "GOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=2\nFAILS_FOR_ESCALATION=3\n"
         "ESCALATION_CMD=/etc/vigilerd/scripts/escalate\n[failcmd1]\nFAIL_CMD=/bin/false\n"
         "FAIL_CMD_GOOD_RETURN=0\n",
         {1}},
        {"ntpd",
         "cat /etc/vigilerd/soak/big\n[ $((n % 2)) -eq 0 ] && exit 1\nexit 0\n",
         "GOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=1\n[failcmd1]\nFAIL_CMD=/bin/true\n"
         "FAIL_CMD_GOOD_RETURN=0\n",
         {0, 1}},
        // Binary output from the script and from its fail command, which reports failure.
        {"ntp",
         "cat /etc/vigilerd/soak/binary\nexit 1\n",
         "GOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=2\n[failcmd1]\n"
         "FAIL_CMD=/etc/vigilerd/scripts/binary-repair\nFAIL_CMD_GOOD_RETURN=0\n",
         {1}},
        {"httpd",
         "kill -9 $$\n",
         "GOOD_RET=0,\nBAD_RET=137,\nMAX_FAIL=2\n[failcmd137]\nFAIL_CMD=/bin/true\n"
         "FAIL_CMD_GOOD_RETURN=0\n",
         {137}},
        // The voice row repairs under the voice lock.
        {"voice",
         "[ $((n % 3)) -eq 0 ] && kill -SEGV $$\nexit 0\n",
         "GOOD_RET=0,\nBAD_RET=139,\nMAX_FAIL=1\n[failcmd139]\nFAIL_CMD=/bin/true\n"
         "FAIL_CMD_GOOD_RETURN=0\n",
         {0, 0, 139}},
        {"vpnd",
         "sleep 0.2\necho 'running'\necho 'two lines' >&2\nexit 0\n",
         "GOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=3\n[failcmd1]\nFAIL_CMD=/bin/true\n"
         "FAIL_CMD_GOOD_RETURN=0\n",
         {0}},
        // A bad value that has no record.
        {"ipsecd",
         "exit 2\n",
         "GOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=1\n[failcmd1]\nFAIL_CMD=/bin/true\n"
         "FAIL_CMD_GOOD_RETURN=0\n",
         {2}},
        {"stats",
         "seq 1 3000\nseq 1 3000 >&2\nexit 0\n",
         "GOOD_RET=0,\nBAD_RET=1,\nMAX_FAIL=3\n[failcmd1]\nFAIL_CMD=/bin/true\n"
         "FAIL_CMD_GOOD_RETURN=0\n",
         {0}},
        // Killed by SIGTERM, then a plain 255; the first repair "fails" (it wants 1).
        {"tftpd",
         "[ $((n % 4)) -eq 3 ] && kill -TERM $$\n[ $((n % 4)) -eq 0 ] && exit 255\nexit 0\n",
         "GOOD_RET=0,\nBAD_RET=143,255,\nMAX_FAIL=1\n[failcmd143]\nFAIL_CMD=/bin/true\n"
         "FAIL_CMD_GOOD_RETURN=1\n[failcmd255]\nFAIL_CMD=/bin/true\nFAIL_CMD_GOOD_RETURN=0\n",
         {0, 0, 143, 255}},
    };
    return services;
}

std::string ScriptPath(const std::string& name) {
    return "/etc/vigilerd/scripts/" + name;
}

void PlaceServices(Box& box) {
    std::string rcConf = "# Every service on.\nSTART_VIGILERD=true\n";
    for (const Service& service : Services()) {
        std::string key = service.name;
        std::transform(key.begin(), key.end(), key.begin(), ::toupper);
        rcConf += "START_" + key + "=true\n";
        // Each script counts its runs in /run/box. A shell killed by SIGSEGV must not leave a
        // core file in the daemon's working directory.
        std::string script = std::string("#!/bin/sh\n") + "f=/run/box/soak." + service.name +
                             ".count\n" + "n=$(( $(cat $f 2>/dev/null || echo 0) + 1 ))\n" +
                             "echo $n >$f\nulimit -c 0\n" + service.script;
        box.Place(ScriptPath(service.name), script, 0755);
        box.Place(std::string("/etc/vigilerd/") + service.name,
                  "[basic]\nSCRIPT=" + ScriptPath(service.name) + "\n" + service.settings);
    }
    box.Place("/etc/sysconfig/rc.conf", rcConf);
    box.Place("/etc/vigilerd/soak/big", BigOutput());
    box.Place("/etc/vigilerd/soak/binary", BinaryOutput());
    box.Place(ScriptPath("escalate"),
              std::string("#!/bin/sh\necho escalated >>") + kEscalations + "\n", 0755);
    box.Place(ScriptPath("binary-repair"), "#!/bin/sh\ncat /etc/vigilerd/soak/binary\nexit 5\n",
              0755);
}

// ------------------------------------------------------------------ the schedule

struct Action {
    double at;  // seconds after the start of the daemon
    enum Kind { kAlarms, kHibernate, kResume, kWait } kind;
    int count;  // SIGALRMs of a burst
};

// A bounded random schedule: bursts of SIGALRM, hibernation episodes (marker and SIGHUP,
// then marker gone and SIGHUP), and a plain SIGHUP (a 40-second wait) per five minutes on
// runs long enough to have checking time left around it.
std::vector<Action> MakeSchedule(std::mt19937& random, double from, double to) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto between = [&](double low, double high) { return low + (high - low) * unit(random); };
    std::vector<Action> actions;
    std::vector<double> waits;
    if (to - from >= 100) {
        for (double slot = from; slot + 100 <= to; slot += 300) {
            waits.push_back(between(slot + 5, std::min(slot + 300, to) - 60));
        }
    }
    size_t nextWait = 0;
    double t = from;
    while (true) {
        t += between(1.0, 6.0);
        if (t >= to - 3) {
            break;
        }
        if (nextWait < waits.size() && t >= waits[nextWait]) {
            actions.push_back({t, Action::kWait, 0});
            ++nextWait;
            continue;
        }
        double pick = unit(random);
        if (pick < 0.4) {
            actions.push_back({t, Action::kAlarms, 1 + static_cast<int>(random() % 40)});
        } else if (pick < 0.7) {
            double resume = t + between(0.5, 4.0);
            actions.push_back({t, Action::kHibernate, 0});
            actions.push_back({resume, Action::kResume, 0});
            t = resume;
        }  // else a quiet stretch
    }
    return actions;
}

// ------------------------------------------------------------------ sampling /proc

struct Sample {
    double at;
    int fds = -1;
    int threads = -1;
    long rssKb = -1;
    int children = 0;
};

int DescriptorCount(pid_t pid) {
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        count += entry->d_name[0] != '.';
    }
    closedir(dir);
    return count;
}

// The number after `key` in a /proc status text; -1 when absent.
long StatusField(const std::string& status, const std::string& key) {
    size_t at = status.find("\n" + key);
    if (at == std::string::npos) {
        return -1;
    }
    return atol(status.c_str() + at + 1 + key.size());
}

char ProcessState(pid_t pid) {
    std::string status = HostFileText("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("\nState:");
    if (at == std::string::npos) {
        return '?';
    }
    at = status.find_first_not_of(" \t", at + 7);
    return at == std::string::npos ? '?' : status[at];
}

// Samples the daemon every 250 ms from its own thread and keeps what breaks at once: death,
// and a child that stays a zombie.
class Sampler {
  public:
    Sampler(const Box& box, Clock::time_point start) : box_(box), start_(start) {}
    ~Sampler() { Stop(); }

    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        running_ = false;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::vector<Sample> Samples() {
        std::lock_guard<std::mutex> lock(mutex_);
        return samples_;
    }
    std::vector<std::string> Problems() {
        std::lock_guard<std::mutex> lock(mutex_);
        return problems_;
    }

  private:
    double Now() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    void Run() {
        // When each zombie child was first seen, for as long as it stays one.
        std::map<pid_t, double> zombieSince;
        while (running_) {
            Sample sample;
            sample.at = Now();
            pid_t pid = box_.Pid();
            std::string status = HostFileText("/proc/" + std::to_string(pid) + "/status");
            sample.threads = static_cast<int>(StatusField(status, "Threads:"));
            sample.rssKb = StatusField(status, "VmRSS:");
            sample.fds = DescriptorCount(pid);
            std::map<pid_t, double> zombies;
            for (pid_t child : box_.Children()) {
                ++sample.children;
                if (ProcessState(child) == 'Z') {
                    auto seen = zombieSince.find(child);
                    zombies[child] = seen != zombieSince.end() ? seen->second : sample.at;
                }
            }
            zombieSince.swap(zombies);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!box_.Alive()) {
                    problems_.push_back("the daemon is gone at " + std::to_string(sample.at) +
                                        " s");
                    running_ = false;
                }
                for (const auto& zombie : zombieSince) {
                    // Seen as a zombie in samples five seconds apart: nobody reaps it.
                    if (sample.at - zombie.second >= 5.0 && reported_.insert(zombie.first).second) {
                        problems_.push_back("child " + std::to_string(zombie.first) +
                                            " has been a zombie since " +
                                            std::to_string(zombie.second) + " s");
                    }
                }
                samples_.push_back(sample);
            }
            std::this_thread::sleep_for(milliseconds(250));
        }
    }

    const Box& box_;
    Clock::time_point start_;
    std::thread thread_;
    std::atomic<bool> running_{true};
    std::mutex mutex_;
    std::vector<Sample> samples_;
    std::vector<std::string> problems_;
    std::set<pid_t> reported_;
};

// ------------------------------------------------------------------ the log

// The log line of `message` as it stands in the raw text after the time and pid prefix.
std::string Line(const std::string& message) {
    return "] " + message + "\n";
}

// Waits until `message` is logged as a whole line somewhere after byte `from` of the log and
// returns the offset of the first such line, npos when none came in time. Works on the raw
// text, which stays cheap on the long logs of long runs.
size_t WaitForLine(const Box& box, const std::string& message, size_t from, milliseconds timeout) {
    size_t found = std::string::npos;
    WaitUntil(
        [&] {
            std::string log = box.LogText();
            found = log.size() > from ? log.find(Line(message), from) : std::string::npos;
            return found != std::string::npos;
        },
        timeout);
    return found;
}

size_t LogSize(const Box& box) {
    return box.LogText().size();
}

long Occurrences(const std::string& text, const std::string& part) {
    long count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Lines the signal thread and the wait thread write; they may fall between any two lines of
// a check pass.
bool FromSignalSide(const std::string& message) {
    for (const char* start : {"Debug: got signal: ", "Info: scheduled for test loop but ",
                              "Info: Hibernate mode has been ", "Info: Wait mode has been set",
                              "Info: (Re)reading rc.conf."}) {
        if (message.compare(0, strlen(start), start) == 0) {
            return true;
        }
    }
    return false;
}

std::string Printable(const std::string& text) {
    std::string shown;
    for (unsigned char c : text.substr(0, 200)) {
        if (c >= 32 && c < 127) {
            shown += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        }
    }
    return text.size() > 200 ? shown + "..." : shown;
}

int LineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Every line of the log is whole: "<time> [<pid>] <message>" with the daemon's pid. One kind of
// line may lack the prefix: a killed script's shell reports the signal with a line of its own
// ("Killed\n"), and that output, logged unfiltered, carries the rest of its message (")")
// onto the next line.
::testing::AssertionResult LinesWhole(const Box& box) {
    static const std::regex prefix(
        R"(^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4} \[(\d+)\] )");
    std::string text = box.LogText();
    if (text.empty() || text.back() != '\n') {
        return ::testing::AssertionFailure() << "the log is empty or does not end in a newline";
    }
    std::vector<std::string> lines = box.LogLines();
    const std::string pid = std::to_string(box.Pid());
    const std::string pidMark = " [" + pid + "] ";
    std::smatch match;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (std::regex_search(lines[i], match, prefix)) {
            if (match[1].str() != pid) {
                return ::testing::AssertionFailure()
                       << "line " << i << " names pid " << match[1] << ": " << Printable(lines[i]);
            }
            // A second prefix inside the line: a line without its end, run into the next.
            const size_t timeLength = 24;
            for (size_t at = lines[i].find(pidMark, match.length(0)); at != std::string::npos;
                 at = lines[i].find(pidMark, at + 1)) {
                std::string before = lines[i].substr(at >= timeLength ? at - timeLength : 0);
                if (at >= timeLength && std::regex_search(before, prefix)) {
                    return ::testing::AssertionFailure()
                           << "line " << i << " holds two lines: " << Printable(lines[i]);
                }
            }
            continue;
        }
        bool report = false;
        for (const char* end : {"(Killed", "(Segmentation fault", "(Terminated"}) {
            const std::string tail = end;
            report = report || (i > 0 && lines[i - 1].size() >= tail.size() &&
                                lines[i - 1].compare(lines[i - 1].size() - tail.size(), tail.size(),
                                                     tail) == 0);
        }
        if (!report || lines[i] != ")") {
            return ::testing::AssertionFailure()
                   << "line " << i << " is not whole: " << Printable(lines[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

// ------------------------------------------------------------------ the test

class Soak : public BoxTest {};

TEST_F(Soak, ThirteenServicesUnderSignalsLeakNothingAndLoseNoLine) {
    std::random_device device;
    unsigned long seed = soakSeed != 0 ? soakSeed : (static_cast<unsigned long>(device()) | 1);
    const double duration = static_cast<double>(soakSeconds);
    // A sanitizer's allocator takes about a minute to fill its caches and quarantine.
    const double warmUp = std::min(60.0, std::max(kSanitized ? 60.0 : 15.0, duration / 6));
    ASSERT_GE(duration, warmUp + 30) << "--soak-seconds must be at least " << warmUp + 30;
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    std::vector<Action> schedule = MakeSchedule(random, warmUp, duration);
    int alarms = 0, hibernations = 0, waits = 0;
    double pausedSeconds = 0;
    for (size_t i = 0; i < schedule.size(); ++i) {
        const Action& action = schedule[i];
        alarms += action.kind == Action::kAlarms ? action.count : 0;
        hibernations += action.kind == Action::kHibernate;
        waits += action.kind == Action::kWait;
        if (action.kind == Action::kHibernate && i + 1 < schedule.size()) {
            pausedSeconds += schedule[i + 1].at - action.at;
        }
    }
    pausedSeconds += waits * kWaitModeSeconds;
    printf(
        "soak: seed %lu (--soak-seed=%lu repeats the schedule), %.0f s, warm-up %.0f s: "
        "%d SIGALRM in bursts, %d hibernations, %d waits\n",
        seed, seed, duration, warmUp, alarms, hibernations, waits);
    fflush(stdout);

    PlaceServices(box);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer holds freed blocks back in a quarantine of 256 MB before reusing them,
    // which looks exactly like a leak; a small quarantine keeps its checks and a flat line.
    const char* options = getenv("ASAN_OPTIONS");
    box.Command(
        {"/usr/bin/env",
         "ASAN_OPTIONS=" +
             (options != nullptr && *options != '\0' ? std::string(options) + ":" : std::string()) +
             "quarantine_size_mb=1:thread_local_quarantine_size_kb=64",
         "/usr/sbin/vigilerd"});
#endif
    box.Start();
    const Clock::time_point start = Clock::now();
    auto at = [&](double offset) {
        return start +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(offset));
    };
    Sampler sampler(box, start);
    sampler.Start();

    // Threads and descriptors of the idle daemon: the fewest seen between the first passes.
    ASSERT_NE(WaitForLine(box, kTerminated, 0, seconds(30)), std::string::npos) << box.Dump();
    int idleThreads = 1000, idleFds = 1000;
    while (Clock::now() < at(std::min(10.0, warmUp))) {
        std::string status = HostFileText("/proc/" + std::to_string(box.Pid()) + "/status");
        int threads = static_cast<int>(StatusField(status, "Threads:"));
        int fds = DescriptorCount(box.Pid());
        if (threads > 0) {
            idleThreads = std::min(idleThreads, threads);
        }
        if (fds > 0) {
            idleFds = std::min(idleFds, fds);
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    ASSERT_LT(idleThreads, 1000);
    ASSERT_LT(idleFds, 1000);

    // The storm.
    for (const Action& action : schedule) {
        std::this_thread::sleep_until(at(action.at));
        if (!box.Alive()) {
            break;
        }
        switch (action.kind) {
            case Action::kAlarms:
                for (int i = 0; i < action.count; ++i) {
                    box.Signal(SIGALRM);
                    std::this_thread::sleep_for(milliseconds(random() % 20));
                }
                break;
            case Action::kHibernate:
                box.Write(kMarker, "");
                box.Signal(SIGHUP);
                break;
            case Action::kResume:
                box.Remove(kMarker);
                box.Signal(SIGHUP);
                break;
            case Action::kWait:
                box.Signal(SIGHUP);
                break;
        }
    }
    std::this_thread::sleep_until(at(duration));
    const double stormEnd = duration;

    // Back to checking: out of hibernation (the two signals of an episode may have merged
    // into one), and a whole pass once the last wait has run out.
    box.Remove(kMarker);
    std::this_thread::sleep_for(seconds(1));
    const std::string set = Line("Info: Hibernate mode has been set");
    const std::string reset = Line("Info: Hibernate mode has been reset");
    bool resumed = WaitUntil(
        [&] {
            std::string log = box.LogText();
            size_t lastSet = log.rfind(set);
            size_t lastReset = log.rfind(reset);
            if (lastSet != std::string::npos &&
                (lastReset == std::string::npos || lastReset < lastSet)) {
                box.Signal(SIGHUP);
                std::this_thread::sleep_for(seconds(2));
                return false;
            }
            return true;
        },
        seconds(30));
    ASSERT_TRUE(resumed) << box.Dump();
    size_t started = WaitForLine(box, kStarted, LogSize(box), seconds(kWaitModeSeconds + 30));
    ASSERT_NE(started, std::string::npos) << "no pass after the storm\n" << box.Dump();
    ASSERT_NE(WaitForLine(box, kTerminated, started, seconds(60)), std::string::npos) << box.Dump();

    // Quiet for the count: hibernate and let the running pass end.
    box.Write(kMarker, "");
    size_t beforeQuiet = LogSize(box);
    box.Signal(SIGHUP);
    ASSERT_NE(WaitForLine(box, "Info: Hibernate mode has been set", beforeQuiet, seconds(30)),
              std::string::npos)
        << box.Dump();
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::string log = box.LogText();
            return Occurrences(log, Line(kStarted)) == Occurrences(log, Line(kTerminated));
        },
        seconds(60)))
        << "the last pass did not end\n"
        << box.Dump();
    sampler.Stop();
    for (const std::string& problem : sampler.Problems()) {
        ADD_FAILURE() << problem;
    }

    // Still obeys after all that: asleep for good, the log closed and final.
    size_t beforeSleep = LogSize(box);
    box.Signal(SIGTERM);
    ASSERT_NE(WaitForLine(box, "Info: got sleep signal. Ignoring all signals and going to sleep",
                          beforeSleep, seconds(30)),
              std::string::npos)
        << box.Dump();
    ASSERT_TRUE(box.Alive()) << box.Dump();

    // ---- Resources. Fixed bounds over the whole run.
    std::vector<Sample> samples = sampler.Samples();
    ASSERT_GT(samples.size(), 20u);
    int mostThreads = 0, mostFds = 0, mostChildren = 0;
    for (const Sample& sample : samples) {
        mostThreads = std::max(mostThreads, sample.threads);
        mostFds = std::max(mostFds, sample.fds);
        mostChildren = std::max(mostChildren, sample.children);
    }
    // Beside the idle threads at most one check thread and one wait thread.
    EXPECT_LE(mostThreads, idleThreads + 2) << "idle " << idleThreads;
    // A running command holds the pipe's read end and a process descriptor (its write end
    // briefly too); alerts to the system log use one socket.
    EXPECT_LE(mostFds, idleFds + 4) << "idle " << idleFds;
    // Commands run one after another from the check thread only.
    EXPECT_LE(mostChildren, 1);

    // Growth: the last third of the run against the first third after the warm-up.
    const double third = (stormEnd - warmUp) / 3;
    struct Window {
        long rssKb = 0;
        int fds = 0, threads = 0, children = 0, samples = 0;
    } windows[3];
    for (const Sample& sample : samples) {
        if (sample.at < warmUp || sample.at >= stormEnd) {
            continue;
        }
        Window& window = windows[std::min(2, static_cast<int>((sample.at - warmUp) / third))];
        window.rssKb = std::max(window.rssKb, sample.rssKb);
        window.fds = std::max(window.fds, sample.fds);
        window.threads = std::max(window.threads, sample.threads);
        window.children = std::max(window.children, sample.children);
        ++window.samples;
    }
    printf("soak: idle %d threads, %d descriptors; most %d threads, %d descriptors, %d children\n",
           idleThreads, idleFds, mostThreads, mostFds, mostChildren);
    for (int i = 0; i < 3; ++i) {
        printf(
            "soak: third %d: %d samples, VmRSS max %ld kB, descriptors max %d, threads max %d, "
            "children max %d\n",
            i + 1, windows[i].samples, windows[i].rssKb, windows[i].fds, windows[i].threads,
            windows[i].children);
    }
    for (const Window& window : windows) {
        ASSERT_GT(window.samples, 5) << "the sampler fell behind";
    }
    // Memory settles after the warm-up; the allocator may still round a little upward. A
    // sanitizer's allocator keeps spreading over its size-class regions for longer.
    const long rssSlackKb =
        kSanitized ? std::max(1024L, windows[0].rssKb / 10) : std::max(256L, windows[0].rssKb / 20);
    EXPECT_LE(windows[2].rssKb, windows[0].rssKb + rssSlackKb) << "resident memory grows";
    EXPECT_LE(windows[2].fds, windows[0].fds) << "descriptors grow";
    EXPECT_LE(windows[2].threads, windows[0].threads) << "threads grow";

    // ---- The log.
    EXPECT_TRUE(LinesWhole(box));
    std::vector<std::string> messages = box.Messages();
    // The check thread's own lines, in their order.
    std::vector<std::string> pass;
    for (const std::string& message : messages) {
        if (!FromSignalSide(message)) {
            pass.push_back(message);
        }
    }

    // Every counted failure archives the logs at once, and the archiver really ran each time.
    const std::string counted = "Warning: current fails for ";
    int failures = 0, namedEscalating = 0;
    for (size_t i = 0; i < pass.size(); ++i) {
        if (pass[i].compare(0, counted.size(), counted) != 0) {
            continue;
        }
        ++failures;
        ASSERT_LT(i + 2, pass.size()) << pass[i];
        EXPECT_EQ(pass[i + 1], kArchiveStart)
            << "after '" << pass[i] << "' (check line " << i << ")";
        EXPECT_EQ(pass[i + 2], kArchiveDone)
            << "after '" << pass[i] << "' (check line " << i << ")";
        int count = 0;
        long most = 0;
        if (sscanf(pass[i].c_str(), "Warning: current fails for named is %d of max %ld", &count,
                   &most) == 2 &&
            count >= 3) {
            ++namedEscalating;
        }
    }
    std::string archived, escalations;
    ASSERT_TRUE(box.TryRead("/run/box/archive.log", &archived));
    EXPECT_EQ(LineCount(archived), failures);
    EXPECT_EQ(std::count(pass.begin(), pass.end(), kArchiveStart), failures);
    ASSERT_TRUE(box.TryRead(kEscalations, &escalations));
    EXPECT_GT(namedEscalating, 0);
    EXPECT_EQ(LineCount(escalations), namedEscalating);

    // Every run is logged with its exit status, in the order the scripts saw them.
    std::map<std::string, std::vector<int>> results;
    const std::string calling = "Debug: Calling /etc/vigilerd/scripts/";
    for (size_t i = 0; i < pass.size(); ++i) {
        if (pass[i].compare(0, calling.size(), calling) != 0) {
            continue;
        }
        std::string name = pass[i].substr(calling.size());
        ASSERT_EQ(name.substr(name.find(' ')), " status") << pass[i];
        name.resize(name.find(' '));
        int value = -1000;
        ASSERT_LT(i + 1, pass.size());
        ASSERT_EQ(sscanf(pass[i + 1].c_str(), "Debug: Return value: %d", &value), 1)
            << "after '" << pass[i] << "': '" << Printable(pass[i + 1]) << "'";
        results[name].push_back(value);
    }
    for (const Service& service : Services()) {
        const std::vector<int>& got = results[service.name];
        std::string runs;
        EXPECT_TRUE(box.TryRead(std::string("/run/box/soak.") + service.name + ".count", &runs));
        EXPECT_EQ(static_cast<size_t>(atol(runs.c_str())), got.size()) << service.name;
        EXPECT_GE(got.size(), 3u) << service.name;
        for (size_t run = 0; run < got.size(); ++run) {
            int expected = service.cycle[run % service.cycle.size()];
            if (got[run] != expected) {
                ADD_FAILURE() << service.name << " run " << run + 1 << " returned " << got[run]
                              << ", the script exits " << expected;
                break;
            }
        }
    }

    // The outputs arrive in the log as far as a C string carries them: the binary output up to
    // its NUL, and a bounded piece of the big output.
    const std::string ntpLine =
        "Warning: returnValue 1 (BAD RETURN) from cmd = /etc/vigilerd/scripts/ntp status (" +
        HighBytes() + ")";
    EXPECT_EQ(std::count(messages.begin(), messages.end(), ntpLine),
              static_cast<long>(results["ntp"].size()));
    EXPECT_GT(std::count(messages.begin(), messages.end(),
                         "Error: Fail Command not successfully executed, got Errorcode = 5 (" +
                             HighBytes() + ")"),
              0);
    const std::string bigStart =
        "Warning: returnValue 1 (BAD RETURN) from cmd = /etc/vigilerd/scripts/ntpd status (";
    const std::string big = BigOutput();
    int bigLines = 0;
    for (const std::string& message : messages) {
        if (message.compare(0, bigStart.size(), bigStart) == 0) {
            ++bigLines;
            std::string output = message.substr(bigStart.size());
            ASSERT_FALSE(output.empty());
            output.pop_back();
            EXPECT_GT(output.size(), 0u);
            EXPECT_LT(output.size(), big.size());
            EXPECT_EQ(big.compare(0, output.size(), output), 0);
        }
    }
    EXPECT_GT(bigLines, 0);

    // What the storm did, seen from the daemon.
    int passes = static_cast<int>(std::count(messages.begin(), messages.end(), kTerminated));
    printf("soak: %d passes, %d counted failures, %zu log bytes\n", passes, failures,
           box.LogText().size());
    const double checkingSeconds = duration - warmUp - pausedSeconds;
    EXPECT_GE(passes, static_cast<int>(std::max(10.0, checkingSeconds / 5))) << "too few passes";
    if (hibernations > 0) {
        EXPECT_GT(box.Count("Info: Hibernate mode has been set"), 0);
    }
    if (waits > 0) {
        EXPECT_GT(box.Count("Info: Wait mode has been set (40 seconds)"), 0);
    }
    for (const char* fixed :
         {"Info: Fail Command successfully executed",
          "Error: Fail Command not successfully executed, got Errorcode = 1 ()",
          "Error: Fail Command not successfully executed, got Errorcode = 0 ()",
          "Error: ***WARNING*** unknown returnvalue 3 for ConfigConfiguration[2]",
          "Error: ***WARNING*** unknown returnvalue 2 for ConfigConfiguration[10]"}) {
        EXPECT_GT(box.Count(fixed), 0) << fixed;
    }
    for (const std::string& message : messages) {
        EXPECT_NE(message.compare(0, 6, "Fatal "), 0) << message;
        EXPECT_NE(message, "Error: Could not create thread!!");
    }
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.compare(0, 15, "--soak-seconds=") == 0) {
            soakSeconds = atol(arg.c_str() + 15);
        } else if (arg.compare(0, 12, "--soak-seed=") == 0) {
            soakSeed = strtoul(arg.c_str() + 12, nullptr, 10);
        } else {
            fprintf(stderr, "usage: %s [--soak-seconds=N] [--soak-seed=N] [gtest flags]\n",
                    argv[0]);
            return 2;
        }
    }
    if (!testing::GTEST_FLAG(list_tests) && geteuid() != 0) {
        fprintf(stderr, "The soak test builds namespaces and mounts: run it as root.\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
