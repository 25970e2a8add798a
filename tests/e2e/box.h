// The end-to-end harness: the real daemon started in a box (scripts/box) with its fixed paths,
// and exact access to its files, log, system-log records, standard streams and process state.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace e2e {

using std::chrono::milliseconds;
constexpr milliseconds kWait{10000};  // default deadline of every WaitFor

// Polls `done` every 50 ms until it holds or `timeout` has passed; checks once more at the end.
bool WaitUntil(const std::function<bool()>& done, milliseconds timeout = kWait);

// The text of a host file such as /proc/PID/status; "" when it cannot be read. Never throws,
// also when the process vanishes while its file is read (std::ifstream does throw then).
std::string HostFileText(const std::string& path);

struct ExecResult {
    int code = -1;       // exit code; 128+N when killed by signal N; -1 when it timed out
    std::string output;  // standard output and standard error, merged
};

// One box with one daemon in it. Configure, Start(), look and poke, Stop() (or let the
// destructor do it). Everything a box creates is gone after Stop(), also when the test process
// dies: the daemon gets SIGKILL with the thread that started it, and its /dev/log listener then
// ends every other process of the box.
//
// Paths are paths inside the box ("/etc/vigilerd.conf"); symlinks resolve inside the box.
// Writes are refused outside the box's private trees (/etc, /usr/bin, /usr/sbin, /bin, /run,
// /var/run, /var/log, /tmp, /mnt), so a test can never change the host.
//
// Start() must be called from the thread that stays alive for the whole test (the daemon is
// tied to it), normally the test's main thread. It makes the test process a child subreaper,
// so that processes the daemon leaves behind are reaped here at Stop().
class Box {
  public:
    Box();  // base configuration SOURCE_DIR/tests/e2e/conf/minimal, the built daemon installed
    ~Box();
    Box(const Box&) = delete;
    Box& operator=(const Box&) = delete;

    // ---- Before Start(). The steps run in the order given, after the configuration
    // directories and installs, and before the daemon starts.
    Box& ClearConf();                      // drop every configuration directory so far
    Box& AddConf(const std::string& dir);  // a host directory mirroring the root; later wins
    Box& Install(const std::string& hostFile, const std::string& boxPath);
    Box& InstallTool(const std::string& name);  // TOOLS_DIR/name to /usr/bin/name
    Box& Place(const std::string& path, const std::string& content, mode_t mode = 0644);
    Box& PlaceDir(const std::string& path, mode_t mode = 0755);
    Box& Unplace(const std::string& path);     // remove a file or tree the configuration put
    Box& Prepare(const std::string& command);  // shell command in the box; must exit 0
    // Calls `hook` with the box built and the command not yet started (files, Exec, OpenPath
    // all work), for example to watch files before the daemon touches them.
    Box& BeforeCommand(std::function<void(Box&)> hook);
    Box& BbramKb(int kb);                                // size of /mnt/bbram (default 1024 KiB)
    Box& FlashfsKb(int kb);                              // size of /mnt/flashfs (default 1024 KiB)
    Box& Command(const std::vector<std::string>& argv);  // default {"/usr/sbin/vigilerd"}

    // Builds the box and starts the command in it; returns once the command runs (its process
    // image has replaced the box script). Throws std::runtime_error when the box cannot be built.
    void Start();
    // Kills every process of the box, reaps them, releases the box. Idempotent.
    void Stop();
    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // ---- Files in the box. They stay readable after the daemon died, until Stop().
    void Write(const std::string& path, const std::string& content, mode_t mode = 0644);
    void Append(const std::string& path, const std::string& content);
    std::string Read(const std::string& path) const;  // throws when it cannot be read
    bool TryRead(const std::string& path, std::string* content) const;
    bool Exists(const std::string& path) const;  // follows symlinks
    bool IsDir(const std::string& path) const;
    void Remove(const std::string& path);  // file or whole tree; a missing path is fine
    // A descriptor for `path` resolved inside the box (open(2) flags), or -1 with errno.
    // The caller closes it. "/proc/self/fd/N" of it is a host path to the same file.
    int OpenPath(const std::string& path, int flags) const;
    void Mkdir(const std::string& path, mode_t mode = 0755);  // with parents; existing is fine

    // Runs `sh -c command` in the box's namespaces (while any of them is still held).
    ExecResult Exec(const std::string& command, milliseconds timeout = milliseconds(30000)) const;

    // ---- The daemon process.
    void Signal(int sig) const;
    bool Alive() const;                   // exists and is not a zombie
    int ThreadCount() const;              // Threads: of /proc/PID/status; -1 when gone
    std::vector<pid_t> Children() const;  // the daemon's child processes, the log listener left out
    std::string Stdout() const;
    std::string Stderr() const;
    // Polls until the process is gone or a zombie; true when it died in time.
    bool WaitForDeath(milliseconds timeout = kWait) const;

    // ---- The daemon log /var/log/vigilerd.log.
    std::string LogText() const;  // the whole file, "" when it does not exist
    // Physical lines without their "\n"; a last line without "\n" is included as it is.
    std::vector<std::string> LogLines() const;
    // One entry per line that starts with a time and pid prefix: the text after the prefix,
    // without the final "\n". Lines without a prefix (command output spanning several lines)
    // are joined to the message before them with "\n".
    std::vector<std::string> Messages() const;
    int Count(const std::string& message) const;  // messages equal to `message`
    // Index in Messages() of the first message at or after `from` that equals `message`
    // (or contains `part`); -1 when none came before the deadline.
    int WaitForMessage(const std::string& message, milliseconds timeout = kWait,
                       int from = 0) const;
    int WaitForMessageContaining(const std::string& part, milliseconds timeout = kWait,
                                 int from = 0) const;
    // True once `message` has been logged at least `count` times.
    bool WaitForCount(const std::string& message, int count, milliseconds timeout = kWait) const;
    // Every line from `fromLine` on is whole: "<24-char ctime text> [<pid>] <message>" with the
    // daemon's pid, ending in "\n".
    ::testing::AssertionResult LogLinesWhole(size_t fromLine = 0) const;

    // ---- System-log records that reached the box's /dev/log, one per entry, as received
    // (for example "<25>Dec  6 09:36:45 vigilerd[321]: Software Watchdog: ...").
    std::vector<std::string> AlertRecords() const;
    int WaitForAlert(const std::string& part, milliseconds timeout = kWait, int from = 0) const;

    // Everything worth seeing when a test fails: log, standard streams, records, processes.
    std::string Dump() const;

  private:
    struct Step {
        enum Kind { kPlace, kPlaceDir, kUnplace, kPrepare, kCall } kind;
        std::string path;
        std::string content;
        mode_t mode;
        std::function<void(Box&)> call;
    };

    int OpenDirForWriting(const std::string& path) const;
    void CheckRunning(const char* what) const;
    void Abort(const std::string& why);
    void KillEverything();
    void CloseAll();

    std::vector<std::string> confs_;
    std::vector<std::pair<std::string, std::string>> installs_;
    std::vector<Step> steps_;
    std::vector<std::string> command_{"/usr/sbin/vigilerd"};
    int bbramKb_ = 1024;
    int flashfsKb_ = 1024;

    pid_t pid_ = -1;
    pid_t sinkPid_ = -1;
    int stdoutFd_ = -1;
    int stderrFd_ = -1;
    int rootFd_ = -1;  // the box's root directory
    int mntNs_ = -1;   // the box's namespaces, held so the box can be read after the daemon died
    int netNs_ = -1;
    int ipcNs_ = -1;
    std::set<dev_t> privateDevices_;
};

// Base fixture: one box per test, stopped at the end; on a failure the box's state is printed,
// and a sanitizer report on the daemon's standard error fails the test.
class BoxTest : public ::testing::Test {
  protected:
    void TearDown() override;
    Box box;
};

}  // namespace e2e
