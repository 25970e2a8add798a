// Helpers shared by the unit tests: files at the daemon's fixed paths, a captured log,
// and a daemon state put back to its start values.
#include "test_support.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "config/rc_conf_reader.h"
#include "config/service_table.h"
#include "config/settings_reader.h"
#include "core/daemon.h"
#include "core/log.h"
#include "core/run_modes.h"
#include "core/signals.h"
#include "monitor/space_check.h"

namespace test {

void WriteFile(const std::string& path, const std::string& content, int mode) {
    std::string dir = path.substr(0, path.rfind('/'));
    if (!dir.empty()) {
        Shell("mkdir -p '" + dir + "'");
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    chmod(path.c_str(), mode);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

void RemovePath(const std::string& path) {
    Shell("rm -rf '" + path + "'");
}

int Shell(const std::string& command) {
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

LogCapture::LogCapture() {
    static int counter = 0;
    path_ = "/run/unit-log-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    CloseLog();
    OpenLog(path_.c_str());
}

LogCapture::~LogCapture() {
    CloseLog();
    unlink(path_.c_str());
}

std::vector<std::string> LogCapture::RawLines() const {
    std::vector<std::string> lines;
    std::string text = ReadFile(path_);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end + 1 - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> LogCapture::Messages() const {
    std::vector<std::string> messages;
    for (const std::string& line : RawLines()) {
        size_t close = line.find("] ");
        messages.push_back(close == std::string::npos ? line : line.substr(close + 2));
    }
    return messages;
}

std::string LogCapture::Text() const {
    std::string all;
    for (const std::string& message : Messages()) {
        all += message;
    }
    return all;
}

void ResetDaemonState() {
    hibernateMode = 0;
    waitingRunning = 0;
    waitingTime = kWaitSeconds;
    checkRunning = 0;
    stopChecks = 0;
    configurationRead = 1;
    asleepForGood = 0;
    poll = 0;
    vigilerd_RC_Conf_Run = 1;
    freeLimitBbram = criticalLimitBbram = freeLimitConfig = criticalLimitConfig = 0;
    bbramLowWarned = bbramCriticalWarned = configLowWarned = configCriticalWarned = 0;
    ResetServiceTable();
    ResetWanInterface();
    // A test that sent the daemon to sleep left these ignored; children must be reaped again.
    for (int sig : {SIGHUP, SIGALRM, SIGTERM, SIGCHLD, SIGINT, SIGILL, SIGQUIT, SIGTRAP, SIGUSR1,
                    SIGUSR2, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU}) {
        signal(sig, SIG_DFL);
    }
}

}  // namespace test
