// The end-to-end harness: the real daemon started in a box (scripts/box) with its fixed paths,
// and access to the box's files, the daemon's log, its system-log records and its process.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

using std::chrono::milliseconds;
using std::chrono::seconds;
constexpr milliseconds kWait{10000};  // default deadline of every wait

// Polls `done` every 20 ms until it holds or `timeout` has passed.
bool WaitUntil(const std::function<bool()>& done, milliseconds timeout = kWait);

// "a|b|c" as {"a", "b", "c"}; "" as none.
inline std::vector<std::string> Split(const std::string& text, char by = '|') {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, by);)
        parts.push_back(part);
    return parts;
}

struct ExecResult {
    int code = -1;       // exit code; 128+N when killed by signal N; -1 on timeout
    std::string output;  // standard output and standard error, merged
};

// One box with one daemon in it: configure, Start(), look and poke, Stop() (or let the
// destructor do it). Start() from the thread that stays alive for the test: the daemon dies
// with it, and the box's log listener then ends every other process of the box. Paths are box
// paths; writes outside the box's private file systems are refused.
class Box {
  public:
    // Base configuration tests/e2e/conf/minimal, the built daemon and voice_lock_holder in it.
    Box();
    ~Box();
    Box(const Box&) = delete;
    Box& operator=(const Box&) = delete;

    // ---- Before Start(); files are placed in the order given, after the configuration.
    Box& Install(const std::string& hostFile, const std::string& boxPath) {
        return installs_.emplace_back(hostFile, boxPath), *this;
    }
    Box& Place(const std::string& path, const std::string& content, mode_t mode = 0644) {
        return steps_.push_back([=](Box& box) { box.Write(path, content, mode); }), *this;
    }
    Box& Prepare(const std::string& command);  // a shell command in the box; must exit 0
    Box& BbramKb(int kb) { return bbramKb_ = kb, *this; }
    Box& FlashfsKb(int kb) { return flashfsKb_ = kb, *this; }

    void Start();  // returns once the command runs; throws when the box cannot be built
    void Stop();   // kills and reaps every process of the box; idempotent
    pid_t Pid() const { return pid_; }

    // ---- Files in the box (readable after the daemon died, until Stop()).
    void Write(const std::string& path, const std::string& content, mode_t mode = 0644);
    std::string Read(const std::string& path) const;  // "" when it cannot be read
    bool Exists(const std::string& path) const;
    ExecResult Exec(const std::string& command, milliseconds timeout = milliseconds(30000)) const;

    // ---- The daemon.
    void Signal(int sig) const;
    bool Alive() const;  // exists and is not a zombie
    std::string Stderr() const;
    std::string ProcField(const std::string& key) const;  // a line of /proc/PID/status
    int OpenFds() const;                                  // entries of /proc/PID/fd

    // ---- Its log /var/log/vigilerd.log; a message is a line without its time and pid
    // prefix, with the lines of multi-line command output joined to it by "\n".
    std::string LogText() const { return Read("/var/log/vigilerd.log"); }
    std::vector<std::string> Messages() const;
    int Count(const std::string& message) const {
        std::vector<std::string> all = Messages();
        return static_cast<int>(std::count(all.begin(), all.end(), message));
    }
    // Index of the first message at or after `from` equal to `message`; -1 after the timeout.
    int WaitForMessage(const std::string& message, milliseconds timeout = kWait,
                       int from = 0) const;
    bool WaitForCount(const std::string& message, int count, milliseconds timeout = kWait) const {
        return WaitUntil([&] { return Count(message) >= count; }, timeout);
    }

    // System-log records that reached the box's /dev/log, one per entry, as received.
    std::vector<std::string> AlertRecords() const;
    // The same cut to "<priority>message" where they carry the time, and the ident and pid of
    // this daemon, as syslog(3) forms them; the others as received.
    std::vector<std::string> Records() const;

  private:
    std::vector<std::pair<std::string, std::string>> installs_;
    std::vector<std::function<void(Box&)>> steps_;
    int bbramKb_ = 1024, flashfsKb_ = 1024;
    pid_t pid_ = -1, sinkPid_ = -1;
    int stderrFd_ = -1, rootFd_ = -1;
    int ns_[3] = {-1, -1, -1};  // mnt, net, ipc: held so the box stays readable
    std::vector<dev_t> private_;
};

// One box per test; on a failure its state is printed; sanitizer reports fail the test.
class BoxTest : public ::testing::Test {
  protected:
    void TearDown() override;
    Box box;
};

}  // namespace e2e
