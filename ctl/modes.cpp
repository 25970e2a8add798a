// pause, hibernate, resume and stop: the hibernation marker and the signal for each mode.
// Owns what the tool does to the daemon; the daemon's reaction is its own.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/run_modes.h"
#include "ctl/ctl.h"

namespace {

bool MarkerPresent() {
    struct stat info;
    return stat(kHibernateMarker, &info) == 0;
}

bool Send(pid_t pid, int sig, const char* name) {
    if (kill(pid, sig) != 0) {
        int error = errno;
        fprintf(stderr, "vigilerctl: cannot send %s to pid %d: %s\n", name, pid, strerror(error));
        return false;
    }
    return true;
}

}  // namespace

int RunModeCommand(const std::string& command, const Arguments& args) {
    if (!args.empty()) {
        fprintf(stderr, "vigilerctl: %s takes no arguments\n", command.c_str());
        return kExitUsage;
    }
    pid_t pid = LiveDaemonPidOrSay();
    if (pid < 0) {
        return kExitNotRunning;
    }

    if (command == "pause") {
        // With the marker present the daemon would take the SIGHUP as "hibernate".
        if (MarkerPresent()) {
            fprintf(stderr,
                    "vigilerctl: %s exists, so SIGHUP would hibernate; use resume or remove it\n",
                    kHibernateMarker);
            return kExitFailure;
        }
        if (!Send(pid, SIGHUP, "SIGHUP")) {
            return kExitFailure;
        }
        printf("vigilerd (pid %d) pauses checking for %d seconds\n", pid, kWaitSeconds);
        return 0;
    }
    if (command == "hibernate") {
        int fd = open(kHibernateMarker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            int error = errno;
            fprintf(stderr, "vigilerctl: cannot create %s: %s\n", kHibernateMarker,
                    strerror(error));
            return kExitFailure;
        }
        close(fd);
        if (!Send(pid, SIGHUP, "SIGHUP")) {
            return kExitFailure;
        }
        printf("vigilerd (pid %d) hibernates until vigilerctl resume\n", pid);
        return 0;
    }
    if (command == "resume") {
        if (unlink(kHibernateMarker) != 0 && errno != ENOENT) {
            int error = errno;
            fprintf(stderr, "vigilerctl: cannot remove %s: %s\n", kHibernateMarker,
                    strerror(error));
            return kExitFailure;
        }
        if (!Send(pid, SIGHUP, "SIGHUP")) {
            return kExitFailure;
        }
        printf("vigilerd (pid %d) resumes checking\n", pid);
        return 0;
    }
    // stop
    if (!Send(pid, SIGTERM, "SIGTERM")) {
        return kExitFailure;
    }
    printf(
        "vigilerd (pid %d) now sleeps for good and ignores every signal; it must be killed "
        "(kill -KILL %d) before it can be started again\n",
        pid, pid);
    return 0;
}
