// Finding the running daemon: its pid file, and proof that the pid is a live vigilerd.
// Owns the rule by which the tool decides it may signal a process.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/daemon.h"
#include "ctl/ctl.h"
#include "platform/config_file.h"

namespace {

// The whole of a small file, false when it cannot be read.
bool ReadText(const std::string& path, std::string& text) {
    FILE* file = fopen(path.c_str(), "re");
    if (file == nullptr) {
        return false;
    }
    char buffer[256];
    size_t length = fread(buffer, 1, sizeof buffer - 1, file);
    fclose(file);
    text.assign(buffer, length);
    return true;
}

}  // namespace

pid_t LiveDaemonPid(std::string& why) {
    std::string text;
    if (!ReadText(kPidPath, text)) {
        why = std::string("no pid file ") + kPidPath;
        return -1;
    }
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    int32_t pid = ConfigBuffer::ParseNumber(text);
    if (pid == ConfigBuffer::VALUE_NOT_FOUND || pid <= 0) {
        why = std::string(kPidPath) + " holds no pid";
        return -1;
    }
    std::string proc = "/proc/" + std::to_string(pid);
    std::string comm;
    std::string stat;
    if (kill(pid, 0) != 0 && errno != EPERM) {
        why = "pid " + std::to_string(pid) + " of " + kPidPath + " is not running";
        return -1;
    }
    if (!ReadText(proc + "/comm", comm) || comm != "vigilerd\n") {
        why = "pid " + std::to_string(pid) + " of " + kPidPath + " is not vigilerd";
        return -1;
    }
    // A zombie still has its name; "pid (comm) S ..." with S the state letter.
    size_t close = ReadText(proc + "/stat", stat) ? stat.rfind(')') : std::string::npos;
    if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') {
        why = "pid " + std::to_string(pid) + " of " + kPidPath + " is not running";
        return -1;
    }
    return pid;
}

pid_t LiveDaemonPidOrSay() {
    std::string why;
    pid_t pid = LiveDaemonPid(why);
    if (pid < 0) {
        fprintf(stderr, "vigilerctl: vigilerd is not running: %s\n", why.c_str());
    }
    return pid;
}
