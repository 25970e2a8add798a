// Helpers for the monitoring tests: a listener for the alerts the daemon raises, a stand-in
// voice subsystem that holds the voice lock, and a probe of that lock.
#include "monitor_support.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "test_support.h"

#include "config/return_lists.h"
#include "config/service_table.h"
#include "platform/alert_event.h"
#include "platform/semaphore.h"

namespace test {

namespace {
constexpr const char* kLogSocket = "/dev/log";
}

AlertListener::AlertListener() {
    unlink(kLogSocket);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, kLogSocket, sizeof address.sun_path - 1);
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        fd_ = fd;
    } else if (fd >= 0) {
        close(fd);
    }
}

AlertListener::~AlertListener() {
    if (fd_ >= 0) {
        close(fd_);
        unlink(kLogSocket);
    }
}

std::vector<std::string> AlertListener::Take() {
    std::vector<std::string> messages;
    if (fd_ < 0) {
        return messages;
    }
    // A raise hands its record to the socket before it returns, so whatever was raised is
    // already queued here.
    char record[8192];
    ssize_t got;
    while ((got = recv(fd_, record, sizeof record, MSG_DONTWAIT)) > 0) {
        std::string text(record, static_cast<size_t>(got));
        std::string tag = "vigilerd[" + std::to_string(getpid()) + "]: ";
        size_t at = text.find(tag);
        messages.push_back(at == std::string::npos ? text : text.substr(at + tag.size()));
    }
    return messages;
}

std::string AlertMessage(const std::string& text) {
    AlertEvent registered;
    registered.Register("system", "Software Watchdog");
    return registered.Compose(text.c_str(), nullptr, nullptr);
}

VoiceLockHolder::VoiceLockHolder() {
    int out[2];
    if (pipe(out) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(TOOLS_DIR "/voice_lock_holder", "voice_lock_holder", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char answer[16] = {};
    ssize_t got = pid_ > 0 ? read(out[0], answer, sizeof answer - 1) : -1;
    close(out[0]);
    holding_ = got > 0 && strncmp(answer, "locked", 6) == 0;
}

VoiceLockHolder::~VoiceLockHolder() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool VoiceLockIsFree() {
    Semaphore probe(37, "/bin/ls");
    if (probe.TryLock(true) == 0) {
        return false;
    }
    probe.Unlock();
    return true;
}

bool InstallStandIns() {
    RemovePath(kScratchDir);
    Shell(std::string("mkdir -p ") + kScratchDir);
    WriteFile("/bin/mainlogszipperforvigiler",
              std::string("#!/bin/sh\necho archive >> ") + kRanPath + "\n", 0755);
    for (const char* name : {"reboot", "Reboot"}) {
        WriteFile(std::string("/usr/sbin/") + name,
                  std::string("#!/bin/sh\n# monitor-test-stand-in\necho \"") + name +
                      "${*:+ $*}\" >> " + kRanPath + "\n",
                  0755);
    }
    // The daemon runs "reboot" through the shell's search path: it must find the stand-in.
    return Shell(
               "[ \"$(command -v reboot)\" = /usr/sbin/reboot ] && "
               "grep -q monitor-test-stand-in /usr/sbin/reboot") == 0;
}

std::vector<std::string> TakeRan() {
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(kRanPath));
    std::string line;
    while (std::getline(text, line)) {
        lines.push_back(line);
    }
    unlink(kRanPath);
    return lines;
}

std::string StatusScript(const std::string& name) {
    std::string path = "/usr/bin/monitor-test-" + name;
    std::string base = std::string(kScratchDir) + "/" + name;
    WriteFile(path, "#!/bin/sh\ncat " + base + ".out 2>/dev/null\nexit $(cat " + base + ".rc)\n",
              0755);
    SetStatus(name, 0);
    return path;
}

void SetStatus(const std::string& name, int returnValue, const std::string& output) {
    std::string base = std::string(kScratchDir) + "/" + name;
    WriteFile(base + ".rc", std::to_string(returnValue) + "\n");
    WriteFile(base + ".out", output);
}

DaemonConfig& ConfigureRow(int id, const ServiceSetup& setup) {
    DaemonConfig& row = daemonConfigs[id];
    row.script = setup.script;
    DeleteGoodCmdStructure(row.goodReturns);
    row.goodReturns = nullptr;
    GoodCmdStructure** goodTail = &row.goodReturns;
    for (int value : setup.goodReturns) {
        *goodTail = NewGoodCmdStructure(value);
        goodTail = &(*goodTail)->next;
    }
    DeleteFailCmdStructure(row.failCommands);
    row.failCommands = nullptr;
    FailCmdStructure** failTail = &row.failCommands;
    for (const FailCommandSetup& fail : setup.failCommands) {
        *failTail = NewFailCmdStructure(fail.command.c_str(), fail.returnValue, fail.goodReturn);
        failTail = &(*failTail)->next;
    }
    row.maxFail = setup.maxFail;
    row.failsForEscalation = setup.failsForEscalation;
    row.escalationCmd = setup.escalationCmd;
    row.dependsOn = setup.dependsOn;
    row.enabled = 1;
    return row;
}

std::string WithoutDebug(const std::vector<std::string>& messages) {
    std::string text;
    for (const std::string& message : messages) {
        if (message.rfind("Debug: ", 0) != 0) {
            text += message;
        }
    }
    return text;
}

}  // namespace test
