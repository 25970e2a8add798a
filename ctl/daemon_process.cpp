// Finding the running daemon through its pid file (or its state file when the pid file is
// gone), and proof that the pid is a live vigilerd: the rule for signalling a process.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/daemon.h"
#include "core/state_file.h"
#include "ctl/ctl.h"
#include "platform/config_file.h"

namespace {

// The whole of a small file, false when it cannot be read.
bool ReadText(const std::string& path, std::string& text) {
    int fd = OpenRegularFile(path);
    char buffer[256];
    ssize_t length = fd < 0 ? -1 : read(fd, buffer, sizeof buffer - 1);
    if (fd >= 0) {
        close(fd);
    }
    if (length < 0) {
        return false;
    }
    text.assign(buffer, static_cast<size_t>(length));
    return true;
}

// `pid` is a live vigilerd; else `why` says what it is, as the pid of `source`.
bool IsLiveDaemon(int32_t pid, const char* source, std::string& why) {
    std::string proc = "/proc/" + std::to_string(pid);
    std::string comm;
    std::string stat;
    if (pid <= 0 || pid == ConfigBuffer::VALUE_NOT_FOUND) {
        why = std::string(source) + " holds no pid";
        return false;
    }
    if (kill(pid, 0) != 0 && errno != EPERM) {
        why = "pid " + std::to_string(pid) + " of " + source + " is not running";
        return false;
    }
    if (!ReadText(proc + "/comm", comm) || comm != "vigilerd\n") {
        why = "pid " + std::to_string(pid) + " of " + source + " is not vigilerd";
        return false;
    }
    // A zombie still has its name; "pid (comm) S ..." with S the state letter.
    size_t close = ReadText(proc + "/stat", stat) ? stat.rfind(')') : std::string::npos;
    if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') {
        why = "pid " + std::to_string(pid) + " of " + source + " is not running";
        return false;
    }
    return true;
}

}  // namespace

pid_t LiveDaemonPid(std::string& why) {
    std::string text;
    if (ReadText(kPidPath, text)) {
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        int32_t pid = ConfigBuffer::ParseNumber(text);
        return IsLiveDaemon(pid, kPidPath, why) ? pid : -1;
    }
    // SIGTERM removes the pid file, and a daemon that could not write one has none; both
    // sleep for good and still name themselves in the state file.
    why = std::string("no pid file ") + kPidPath;
    State state;
    std::string ignored;
    return ReadState(state) && IsLiveDaemon(state.pid, kStatePath, ignored) ? state.pid : -1;
}

pid_t LiveDaemonPidOrSay() {
    std::string why;
    pid_t pid = LiveDaemonPid(why);
    if (pid < 0) {
        fprintf(stderr, "vigilerctl: vigilerd is not running: %s\n", why.c_str());
    }
    return pid;
}
