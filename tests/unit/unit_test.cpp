// Unit tests for what the scenarios cannot reach cheaply: the file syntax and number parsing,
// and the return-value list grammar.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "config/return_lists.h"
#include "config/settings_reader.h"
#include "core/log.h"
#include "monitor/reboot_budget.h"
#include "platform/config_file.h"
#include "platform/command_line.h"
#include "platform/semaphore.h"
#include "platform/system.h"

namespace {

using namespace std::string_literals;
const std::string& kAbsent = ConfigBuffer::ENTRY_NOT_FOUND;
constexpr int32_t kNone = ConfigBuffer::VALUE_NOT_FOUND;

// A path whose reading gives `text`: an in-memory file of this process.
std::string File(const std::string& text) {
    static int fd = memfd_create("config", 0);
    EXPECT_EQ(ftruncate(fd, 0), 0);
    EXPECT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    return "/proc/self/fd/" + std::to_string(fd);
}

TEST(ConfigFile, Entries) {
    const std::vector<std::array<std::string, 3>> cases = {
        {"KEY=value\n", "KEY", "value"}, {"  KEY \t=\t va lue  ", "KEY", "va lue"},
        {"KEY=\" a \"\n", "KEY", " a "}, {"KEY=' '\n", "KEY", " "},
        {"KEY=\"\"\n", "KEY", ""},       {"KEY='a\"\n", "KEY", "'a\""},
        {"KEY=a=b\n", "KEY", "a=b"},     {"KEY=1\nKEY=2\n", "KEY", "2"},
        {"KEY=1\r\n", "KEY", "1"},       {"KEY=1\nKEY=2\0x\n"s, "KEY", "1"},
        {" # KEY=1\n", "KEY", kAbsent},  {"KEY 1\n", "KEY", kAbsent},
        {"key=1\n", "KEY", kAbsent},     {"KEY=3 # three\n", "KEY", "3 # three"},
        {"[s]\nKEY=1\n", "KEY", "1"},    {"=1\n", "", kAbsent},
        // Quotes go only when they enclose the whole value, not several quoted words.
        {"KEY=\"/opt/my tool/fix\" \"now\"", "KEY", "\"/opt/my tool/fix\" \"now\""},
        {"KEY='a' 'b'", "KEY", "'a' 'b'"}, {"KEY=\"it's\"", "KEY", "it's"}};
    for (const auto& [text, key, value] : cases) {
        ConfigFile file(File(text), false, false);
        EXPECT_EQ(file.GetEntry(key), value) << text;
    }
}

TEST(ConfigFile, Numbers) {
    const char* texts[] = {
        "3",          " -12 ", "+5",   "-2147483648", "010", "2147483646", "2147483647",
        "2147483648", "3x",    "0x10", "1.5",         "",    "-",          "99999999999999999999"};
    const int32_t values[] = {3,     -12,   5,     INT32_MIN, 10,    2147483646, kNone,
                              kNone, kNone, kNone, kNone,     kNone, kNone,      kNone};
    for (size_t i = 0; i < std::size(texts); ++i)
        EXPECT_EQ(ConfigBuffer::ParseNumber(texts[i]), values[i]) << texts[i];
    ConfigFile file(File("A=7\nB=x\n"), false, false);
    EXPECT_EQ((std::array<int32_t, 3>{file.GetValue("A"), file.GetValue("B"), file.GetValue("C")}),
              (std::array<int32_t, 3>{7, kNone, kNone}));
}

TEST(ConfigFile, Sections) {
    MultiSectionConfigFile file(File("A=0\n[one]\nA=1\n[ two ]\nA=2\n[one]\nB=3\n[]\n"), false,
                                false, false);
    EXPECT_EQ(file.GetSectionEntry("A"), kAbsent);  // before the first header: no section
    ASSERT_EQ(file.GotoSection("one"), 1);
    EXPECT_EQ(file.GetSectionEntry("A") + file.GetSectionEntry("B"), "13");
    EXPECT_EQ(file.GotoSection("two"), 0);
    ASSERT_EQ(file.GotoSection(" two "), 1);
    EXPECT_EQ(file.GetSectionValue("A"), 2);
    EXPECT_EQ(file.GotoSection(""), 1);
}

// Every value read is good, and only those.
TEST(ReturnLists, Grammar) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0,", "0 "},       {"0,1,", "0 1 "},   {"0,1", "0 "},    {"0", ""},
        {"", ""},           {"12abc,", "12 "},  {"abc,,", "0 0 "}, {"1-5,", "1 "},
        {"0x1F,", "0 "},    {"010,", "10 "},    {" -7, 8 ,", "-7 8 "},
        {"99999999999,-99999999999,", "2147483647 -2147483648 "}};
    for (const auto& [text, values] : cases) {
        GoodCmdStructure* list = GetNumbers(text);
        std::string read;
        for (GoodCmdStructure* node = list; node != nullptr; node = node->next)
            read +=
                std::to_string(node->value) + (IsGoodReturnValue(list, node->value) ? " " : "?");
        EXPECT_EQ(read, values) << text;
        EXPECT_EQ(IsGoodReturnValue(list, 424242), 0);
        DeleteGoodCmdStructure(list);
    }
}

// The voice lock nests within its holder (a reboot that did not happen must not lock the daemon
// out of its own lock); another holder is refused; a lock that someone else set up with
// semctl(SETVAL) is taken as it stands: free at 1, busy at 0.
TEST(VoiceLock, NestsAndTakesALockSetUpByOthers) {
    auto value = [] { return semctl(semget(ftok("/bin/ls", 37), 1, 0), 0, GETVAL); };
    for (int setUp : {-1, 1, 0}) {
        semctl(semget(ftok("/bin/ls", 37), 1, 0), 0, IPC_RMID);
        if (setUp >= 0)
            semctl(semget(ftok("/bin/ls", 37), 1, IPC_CREAT | 0666), 0, SETVAL, setUp);
        Semaphore lock(37, "/bin/ls"), other(37, "/bin/ls");
        ASSERT_EQ(lock.TryLock(true) != 0, setUp != 0) << setUp;
        if (setUp == 0)
            continue;
        EXPECT_NE(lock.TryLock(true), 0);
        EXPECT_EQ(other.TryLock(true), 0);
        other.Unlock();  // took nothing, gives nothing back
        lock.Unlock();
        EXPECT_EQ(value(), 0) << "one level is still held";
        lock.Unlock();
        lock.Unlock();  // unbalanced: must not make room for two holders
        EXPECT_EQ(value(), 1);
    }
}

// A plain line starts its program without a shell and must do what the shell would have done:
// each line runs through System and through "/bin/sh -c", and both must agree, but for the
// shell's notice about a program killed by a signal.
TEST(CommandLine, PlainLinesRunDirectlyAndDoWhatTheShellDoes) {
    char temp[] = "/tmp/lines.XXXXXX";
    const std::string dir = mkdtemp(temp);
    ASSERT_EQ(system(("cd " + dir + " && printf '#!/bin/sh\\necho \"$0|$#|$*\"; echo err >&2; exit 3\\n' "
                      ">script && printf 'echo bare \"$1\"\\nexit 7\\n' >bare && printf "  // no #!
                      "'#!/bin/sh\\necho never\\n' >closed && printf '#!/bin/sh\\necho going\\nkill "
                      "-TERM $$\\n' >killed && chmod +x script bare killed").c_str()), 0);
    const std::vector<std::string> lines[2] = {
        {"/bin/echo a-b c.d e_f g+h i=j k:l m,n o@p q%r /s/", dir + "/script status",
         dir + "/bare x", dir + "/closed", dir + "/killed", dir + "/missing status", dir,
         "/bin/false"},
        // One row per kind of character the shell expands or interprets.
        {"/bin/echo  two", "/bin/echo end ", "/bin/echo $0", "/bin/echo ~", "/bin/echo /*",
         "/bin/echo /bi?", "/bin/echo /[b]in", "/bin/echo \"q\"", "/bin/echo 'q'",
         "/bin/echo a;/bin/echo b", "/bin/echo a >/dev/null", "/bin/cat </dev/null",
         "/bin/echo a&&/bin/echo b", "/bin/echo a|/bin/cat", "/bin/echo a\\b", "/bin/echo `id -u`",
         "/bin/echo a #b", "/bin/echo done", "echo relative", ""}};
    for (int plain : {1, 0}) {
        for (const std::string& line : lines[plain ? 0 : 1]) {
            std::vector<std::string> argv;
            EXPECT_EQ(SplitPlainCommand(line, argv), plain == 1) << line;
            std::string direct, shell;
            std::string quoted;
            for (char c : line)
                quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
            int code = System("exec /bin/sh -c '" + quoted + "'", shell);
            EXPECT_EQ(System(line, direct), code) << line;
            if (plain && shell.size() > 11 && shell.substr(shell.size() - 11) == "Terminated\n")
                shell.resize(shell.size() - 11);
            EXPECT_EQ(direct, shell) << line;
        }
    }
    EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

// Commands run from two threads at once, their pipes at whatever descriptor numbers they get,
// each collect their own output and nothing else, and leave no descriptor behind.
TEST(CommandLine, ConcurrentCommandsCollectTheirOwnOutput) {
    auto openFds = [] {
        int count = 0;
        DIR* dir = opendir("/proc/self/fd");
        while (dir != nullptr && readdir(dir) != nullptr)
            ++count;
        return dir != nullptr && closedir(dir) == 0 ? count : -1;
    };
    const int fds = openFds();
    bool ok[2] = {true, true};
    auto run = [&ok](int thread) {
        for (int i = 0; i < 40 && ok[thread]; ++i) {
            std::string out, want = "t" + std::to_string(thread) + "." + std::to_string(i);
            ok[thread] = System("/bin/echo " + want, out) == 0 && out == want + "\n";
        }
    };
    std::thread one(run, 0), two(run, 1);
    one.join(), two.join();
    EXPECT_TRUE(ok[0] && ok[1]);
    EXPECT_EQ(openFds(), fds);
}

// What a command leaves behind cannot hold the runner, and its output is read to the end:
// a silent background holder of the pipe, one that floods it after the shell has ended, and
// output larger than the pipe, written at the last moment or late by a background child.
TEST(CommandLine, OutputAndLeftoversOfTheShell) {
    const struct {
        const char* line;
        int code;
        std::string output;
    } cases[] = {
        {"(sleep 5 &) ; echo done", 0, "done\n"},
        {"(exec /bin/sh -c 'while :; do echo y; done' &) ; sleep 0.1", 0, ""},
        {"(sleep 5 &) ; head -c 100000 /dev/zero | tr '\\0' a; exit 3", 3,
         std::string(kMaxCommandOutput, 'a')},
        {"(sleep 0.3; echo late) & echo early", 0, "early\n"},
        {"printf last; exec >&-; sleep 0.2", 0, "last"},
    };
    for (const auto& c : cases) {
        std::string out;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(System(c.line, out), c.code) << c.line;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << c.line;
        // The flood is cut to the kept size, whatever else the shell printed first.
        EXPECT_TRUE(out == c.output || (*c.output.c_str() == '\0' && c.code == 0 &&
                                        out.size() == kMaxCommandOutput &&
                                        out.find_first_not_of("y\n") == std::string::npos))
            << c.line << " gave " << out.substr(0, 80);
    }
}

// A record is whole or counts as nothing; a missing one is empty, silently.
TEST(RebootBudget, RecordLines) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"5 escalation httpd\n7 stall -\n9 hardware -\n",
         "5 escalation httpd|7 stall -|9 hardware -|"},
        {"5 escalation httpd\n7 stall -", "malformed line 2"},
        {"\n", "malformed line 1"},
        {"5 reboot httpd\n", "malformed line 1"},
        {"5  stall -\n", "malformed line 1"},
        {"5 stall - x\n", "malformed line 1"},
        {"5 stall \n", "malformed line 1"},
        {"-5 stall -\n", "malformed line 1"},
        {"5x stall -\n", "malformed line 1"},
        {"1234567890123456789 stall -\n", "malformed line 1"},
        {"5 Stall -\n", "malformed line 1"}};
    for (const auto& [text, read] : cases) {
        std::vector<RebootEntry> entries;
        std::string why, got;
        bool whole = ReadRebootRecord(File(text).c_str(), entries, why);
        for (const RebootEntry& entry : entries)
            got += std::to_string(entry.at) + " " + entry.cause + " " + entry.service + "|";
        EXPECT_EQ(whole ? got : why, read) << text;
        EXPECT_EQ(whole, got == read) << text;
    }
    std::vector<RebootEntry> entries;
    std::string why;
    EXPECT_TRUE(ReadRebootRecord("/nonexistent/vigilerd.reboots", entries, why));
    EXPECT_FALSE(ReadRebootRecord("/", entries, why));
    EXPECT_EQ(why, "Is a directory");
}

// At 10000 with a window of one hour: 6400 has just left it, 6401 and the future 20000 count.
TEST(RebootBudget, Window) {
    std::vector<RebootEntry> entries = {
        {20000, "stall", "-"}, {6400, "hardware", "-"}, {6401, "escalation", "ppp"}};
    const int64_t allowedUsedNext[][3] = {{3, 2, 10000}, {2, 2, 10001}, {1, 2, 23600}};
    for (const auto& [allowed, used, next] : allowedUsedNext) {
        int64_t at = -1;
        EXPECT_EQ(CountRebootsInWindow(entries, 10000, 1, allowed, at), used);
        EXPECT_EQ(at, next) << allowed;
    }
}

// The hardware watchdog's entries, in a child with a mount namespace and a /mnt of its own, so
// the host's is never touched: a reset it reports is recorded even under a spent budget; a
// stall resets the box while the budget allows, and is else refused with one line per stall.
TEST(RebootBudget, HardwareResetsAndStalls) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
            mount("tmpfs", "/mnt", "tmpfs", 0, "size=64k") || mkdir("/mnt/flashfs", 0755) ||
            !OpenLog("/mnt/log"))
            _exit(77);
        rebootBudget = 2, rebootBudgetHours = 1;
        std::string said;
        RecordHardwareReset();
        for (int64_t stall : {5, 5, 5, 9})
            said += RebootBudgetAllowsStall(stall) ? "y" : "n";
        RecordHardwareReset();
        said += RebootBudgetAllowsEscalation("ppp") ? "y\n" : "n\n";
        int fd = open(kRebootRecordPath, O_RDONLY), log = open("/mnt/log", O_RDONLY);
        char text[4096];
        said.append(text, std::max<ssize_t>(read(fd, text, sizeof text), 0));
        said.append(text, std::max<ssize_t>(read(log, text, sizeof text), 0));
        _exit(write(out[1], said.data(), said.size()) == static_cast<ssize_t>(said.size()) ? 0 : 1);
    }
    close(out[1]);
    char text[8192];
    std::string said(text, std::max<ssize_t>(read(out[0], text, sizeof text), 0));
    int status;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no mount namespace of its own";
    // Times and pids vary: a record line loses its time, a log line its time and pid.
    std::string shown;
    for (size_t at = 0, end; at < said.size(); at = end + 1) {
        end = std::min(said.find('\n', at), said.size());
        std::string line = said.substr(at, end - at);
        size_t cut = line.find("] ");
        shown += (cut != std::string::npos ? line.substr(cut + 2)
                                           : line.substr(line.find_first_not_of("0123456789"))) +
                 "\n";
    }
    const std::string fed =
        "Error: Reboot budget spent (2 reboots in 1 hours). Hardware watchdog "
        "keeps being fed\n";
    EXPECT_EQ(shown, "ynnnn\n hardware -\n stall -\n hardware -\n" + fed + fed +
                         "Error: Reboot budget spent (3 reboots in 1 hours). Could not execute the "
                         "escalation command\n")
        << said;
}

// The size limit: a burst of lines from two threads across the rename splits and loses none; a
// log that copytruncate emptied is not renamed early; a failed rename is logged once, and the
// log then goes on growing.
TEST(Log, RenamedBetweenWholeLinesAtItsLimit) {
    std::string temp = ::testing::TempDir() + "log.XXXXXX";
    const std::string log = mkdtemp(&temp[0]) + "/vigilerd.log"s, old = log + ".1";
    auto read = [](const std::string& path) {
        return std::string(std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {});
    };
    auto report = [](int thread) {
        for (int i = 0; i < 350; ++i)
            Report("Debug: thread %d line %03d of a burst\n", thread, i);
    };
    ASSERT_TRUE(OpenLog(log.c_str()));
    ConfigureLog(kLogDebug, 32 * 1024, kLogFileOnly);
    std::thread one(report, 1), two(report, 2);
    one.join(), two.join();
    // 700 lines, all as long, of which one file holds 32 kB at most: one rename, between two
    // lines. Each thread's lines are there, whole and in order.
    const std::string renamed = read(old), both = renamed + read(log);
    const size_t line = both.find('\n') + 1;
    EXPECT_TRUE(renamed.size() % line == 0 && renamed.size() <= 32 * 1024 &&
                both.size() - renamed.size() <= 32 * 1024 && both.size() == 700 * line);
    for (size_t i = 0, at[2] = {}; i < 700; ++i) {
        char want[48];
        snprintf(want, 48, "] Debug: thread %zu line %03zu of a burst\n", i % 2 + 1, i / 2);
        ASSERT_NE(at[i % 2] = both.find(want, at[i % 2]), std::string::npos) << want;
    }
    // copytruncate empties the log, and .1 cannot be replaced any more: the log is not renamed
    // before it reaches the limit again, then the failure is logged once and the log grows.
    ASSERT_EQ(truncate(log.c_str(), 0) | remove(old.c_str()) | mkdir(old.c_str(), 0700), 0);
    report(1), report(2);
    const std::string grown = read(log), failed = "] Warning: could not rename " + log + " to " +
                                                  old + " (21 = Is a directory)\n";
    EXPECT_EQ(std::count(grown.begin(), grown.end(), '\n'), 701);
    EXPECT_TRUE(grown.find(failed) > 400 * line && grown.find(failed) == grown.rfind(failed));
    // The prefix of a second is kept, yet a line of a later second carries its own time.
    const time_t first = time(nullptr);
    for (int i = 0; i < 300 && time(nullptr) == first; ++i)
        usleep(10 * 1000);
    const time_t from = time(nullptr);
    Report("Info: a later second\n");
    const time_t to = time(nullptr);
    const std::string last = read(log).substr(read(log).rfind('\n', read(log).size() - 2) + 1);
    auto stamp = [](time_t t) {
        char text[32];
        return std::string(ctime_r(&t, text), 24) + " [" + std::to_string(getpid()) + "] ";
    };
    EXPECT_TRUE(from != first && (last == stamp(from) + "Info: a later second\n" ||
                                  last == stamp(to) + "Info: a later second\n")) << last;
    CloseLog();
    EXPECT_EQ(system(("rm -rf " + temp).c_str()), 0);
}

}  // namespace
