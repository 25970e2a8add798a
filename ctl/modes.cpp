// pause, hibernate, resume and stop: the hibernation marker and the signal for each mode.
// Owns what the tool does to the daemon; the daemon's reaction is its own.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "core/run_modes.h"
#include "core/state_file.h"
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

int CannotRemoveMarker() {
    int error = errno;
    fprintf(stderr, "vigilerctl: cannot remove %s: %s\n", kHibernateMarker, strerror(error));
    return kExitFailure;
}

// When a running wait lets checking resume, as a sentence's end.
std::string WaitEnd(const State& state) {
    long long left = state.waitEnd - static_cast<long long>(time(nullptr));
    return "after its wait, at about " + Clock(state.waitEnd) + " (in " +
           std::to_string(left > 0 ? left : 0) + " s)";
}

// Wakes a hibernating daemon. Any other SIGHUP would start a wait, so a daemon that does not
// hibernate gets none; a marker that would turn the next pause into hibernation goes.
int Resume(pid_t pid, const State& state) {
    if (state.mode != "hibernating") {
        if (unlink(kHibernateMarker) == 0) {
            printf("removed %s\n", kHibernateMarker);
        } else if (errno != ENOENT) {
            return CannotRemoveMarker();
        }
        if (state.mode == "waiting") {
            printf("vigilerd (pid %d) is not hibernating, nothing sent; it resumes checking %s\n",
                   pid, WaitEnd(state).c_str());
        } else {
            printf("vigilerd (pid %d) is not hibernating, nothing sent\n", pid);
        }
        return 0;
    }
    if (unlink(kHibernateMarker) != 0 && errno != ENOENT) {
        return CannotRemoveMarker();
    }
    if (!Send(pid, SIGHUP, "SIGHUP")) {
        return kExitFailure;
    }
    printf("vigilerd (pid %d) resumes checking%s\n", pid,
           state.waitEnd > 0 ? (" " + WaitEnd(state)).c_str() : "");
    return 0;
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
    State state;
    bool known = ReadState(state) && state.pid == pid;
    if (known && state.mode == "asleep") {
        // It ignores every signal: nothing sent, nothing created.
        fprintf(stderr,
                "vigilerctl: vigilerd (pid %d) sleeps for good (%s) and ignores every signal; it "
                "must be killed (kill -KILL %d) and started again\n",
                pid, state.reason.c_str(), pid);
        return kExitAsleep;
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
        // Never through a link someone left in /tmp; a marker already there must be one that
        // the daemon's own test finds.
        int fd = open(kHibernateMarker, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && (errno != EEXIST || !MarkerPresent())) {
            int error = errno;
            fprintf(stderr, "vigilerctl: cannot create %s: %s\n", kHibernateMarker,
                    strerror(error));
            return kExitFailure;
        }
        if (fd >= 0) {
            close(fd);
        }
        if (!Send(pid, SIGHUP, "SIGHUP")) {
            return kExitFailure;
        }
        printf("vigilerd (pid %d) hibernates until vigilerctl resume\n", pid);
        return 0;
    }
    if (command == "resume") {
        if (!known) {
            fprintf(stderr, "vigilerctl: no state of pid %d in %s; nothing sent\n", pid,
                    kStatePath);
            return kExitFailure;
        }
        return Resume(pid, state);
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
