// Helpers for the monitoring tests: a listener for the alerts the daemon raises, a stand-in
// voice subsystem that holds the voice lock, and a probe of that lock.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

struct DaemonConfig;

namespace test {

// Binds a datagram socket at /dev/log (the test's private overlay) for the life of the object
// and collects the alert records that reach it.
class AlertListener {
  public:
    AlertListener();
    ~AlertListener();
    AlertListener(const AlertListener&) = delete;
    AlertListener& operator=(const AlertListener&) = delete;

    bool Bound() const { return fd_ >= 0; }
    // The message of every record received since the last call (the part after the
    // "vigilerd[pid]: " tag), in arrival order.
    std::vector<std::string> Take();

  private:
    int fd_ = -1;
};

// The source name the daemon registers with, so expected alert messages can be composed the
// way the event channel composes them.
std::string AlertMessage(const std::string& text);

// Runs the voice-lock holder tool and waits until it holds the lock; kills it on destruction.
class VoiceLockHolder {
  public:
    VoiceLockHolder();
    ~VoiceLockHolder();
    VoiceLockHolder(const VoiceLockHolder&) = delete;
    VoiceLockHolder& operator=(const VoiceLockHolder&) = delete;

    bool Holding() const { return holding_; }

  private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

// True when nobody holds the voice lock (tested by taking and giving it back).
bool VoiceLockIsFree();

// Stand-ins and the scratch directory under /run where they leave their traces.
constexpr const char* kScratchDir = "/run/monitor-test";
constexpr const char* kRanPath = "/run/monitor-test/ran";

// Puts the log archiver and reboot stand-ins in place (each appends a line to kRanPath) and
// empties the scratch directory. False when "reboot" would not reach the stand-in.
bool InstallStandIns();
// The lines the stand-ins and test commands appended to kRanPath since the last call.
std::vector<std::string> TakeRan();

// A status script "/usr/bin/monitor-test-<name>" that prints the content of
// <scratch>/<name>.out and exits with the number in <scratch>/<name>.rc. Returns its path.
std::string StatusScript(const std::string& name);
void SetStatus(const std::string& name, int returnValue, const std::string& output = "");

struct FailCommandSetup {
    int returnValue;
    std::string command;
    int goodReturn;
};

struct ServiceSetup {
    std::optional<std::string> script;
    std::vector<int> goodReturns = {0};
    std::vector<FailCommandSetup> failCommands;
    int maxFail = -1;
    int failsForEscalation = -1;
    std::optional<std::string> escalationCmd;
    std::optional<std::string> dependsOn;
};

// Fills row `id` of the service table as a configuration file would, and enables it.
DaemonConfig& ConfigureRow(int id, const ServiceSetup& setup);

// The log messages without the check cycle's Debug lines, joined.
std::string WithoutDebug(const std::vector<std::string>& messages);

}  // namespace test
