// Runs one shell command line to its end and collects what it printed.
// Owns child-process start-up, output capture and exit-status decoding.
#include "platform/system.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/command_line.h"

extern char** environ;

#if defined(__GLIBC__) && defined(__GLIBC_PREREQ)
#if __GLIBC_PREREQ(2, 34)
#define HAVE_SPAWN_CLOSEFROM 1
#endif
#endif
#ifndef HAVE_SPAWN_CLOSEFROM
#define HAVE_SPAWN_CLOSEFROM 0
#endif

std::string emptyResult;

namespace {

// After the shell has ended, a process it left in the background may keep writing into the
// pipe; what is read then is bounded so that such a writer cannot keep System from returning.
constexpr size_t kMaxDrainAfterExit = 1024 * 1024;
// Poll period when the kernel offers no process descriptor.
constexpr int kFallbackPollMs = 20;

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            close(fd_);  // never retried: on Linux the descriptor is gone even after EINTR
        }
        fd_ = fd;
    }

  private:
    int fd_;
};

// Keeps the pipe ends clear of 0, 1 and 2, which the child's file actions overwrite; a pipe
// end landing there (when the daemon's own standard streams are closed) would be clobbered.
bool MoveAboveStandardStreams(Fd& fd) {
    if (fd.Get() > STDERR_FILENO) {
        return true;
    }
    int moved = fcntl(fd.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) {
        return false;
    }
    fd.Reset(moved);
    return true;
}

// A descriptor that becomes readable when the process ends; -1 with errno when the kernel
// has none to give (ENOSYS on old kernels, ESRCH when the process is already gone).
int OpenProcessFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// Collects the child's output, keeping at most kMaxCommandOutput bytes.
class Collector {
  public:
    explicit Collector(bool keep) : keep_(keep) {}

    // One read of a pipe that poll(2) has just reported ready. The daemon's end blocks, but it
    // is the pipe's only reader, so the read returns at once. False once the pipe has reached
    // end of file or failed; true while it may still deliver more.
    bool ReadReady(int fd) {
        ssize_t got;
        do {
            got = read(fd, chunk_, sizeof chunk_);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            return false;
        }
        Keep(chunk_, static_cast<size_t>(got));
        return true;
    }

    // Reads what the pipe holds right now, at most about `limit` bytes, without waiting.
    // Same result as ReadReady.
    bool ReadAvailable(int fd, size_t limit) {
        for (size_t total = 0; total < limit; total += sizeof chunk_) {
            struct pollfd pipe = {fd, POLLIN, 0};
            int ready = ::poll(&pipe, 1, 0);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                return ready == 0;
            }
            if (!ReadReady(fd)) {
                return false;
            }
        }
        return true;
    }

    std::string& Text() { return text_; }

  private:
    void Keep(const char* data, size_t size) {
        if (!keep_ || text_.size() >= kMaxCommandOutput) {
            return;
        }
        size_t room = kMaxCommandOutput - text_.size();
        text_.append(data, size < room ? size : room);
    }

    bool keep_;
    std::string text_;
    char chunk_[8192];
};

// Ends a command that outlived its limit: SIGTERM to its whole process group when the limit
// runs out, SIGKILL once the grace time has passed too. Nothing happens without a limit.
class Deadline {
  public:
    Deadline(pid_t group, int seconds) : group_(group) {
        if (seconds > 0) {
            next_ = Now() + static_cast<int64_t>(seconds) * 1000;
        }
    }

    // Milliseconds until the next step is due, for poll(2); -1 when none is left.
    int WaitMs() const {
        if (next_ < 0) {
            return -1;
        }
        int64_t left = next_ - Now();
        return left <= 0 ? 0 : static_cast<int>(left);
    }

    // Takes the step that is due, if any. Call only while the shell is unreaped, so that its
    // group id cannot have been handed to anybody else.
    void Act() {
        if (next_ < 0 || Now() < next_) {
            return;
        }
        if (!expired_) {
            expired_ = true;
            killpg(group_, SIGTERM);
            next_ = Now() + kKillGraceSeconds * 1000;
        } else {
            killpg(group_, SIGKILL);
            next_ = -1;
        }
    }

    bool Expired() const { return expired_; }

  private:
    static int64_t Now() {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }

    pid_t group_;
    int64_t next_ = -1;
    bool expired_ = false;
};

int DecodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

// Reaps the child. -1 when no status can be had (ECHILD: SIGCHLD is ignored and the kernel
// has already released the child).
int Reap(pid_t pid) {
    int status = 0;
    pid_t got;
    do {
        got = waitpid(pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    return got == pid ? DecodeStatus(status) : -1;
}

// Waits for the shell's end through its process descriptor while reading the pipe. The
// daemon's own copy of the write end stays open until then: the pipe's end of file, which
// comes a moment before the process descriptor turns ready, would otherwise wake the wait a
// second time for every command. Output still wakes it, so a full pipe never stalls the child.
int WaitWithProcessFd(pid_t pid, int processFd, int pipeFd, Fd& writeEnd, Collector& collector,
                      Deadline& deadline) {
    bool pipeOpen = true;
    // poll(2) looks at the descriptors in order, so a pipe it finds empty after the process
    // descriptor has turned ready holds nothing the shell wrote; only a process the shell left
    // behind could still add to it, and what that writes after the shell's end was never
    // waited for.
    bool emptyAfterEnd = false;
    for (;;) {
        deadline.Act();
        struct pollfd fds[2] = {{processFd, POLLIN, 0}, {pipeFd, POLLIN, 0}};
        int ready = ::poll(fds, pipeOpen ? 2 : 1, deadline.WaitMs());
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;  // cannot happen with valid descriptors; reap below rather than spin
        }
        if (pipeOpen && fds[1].revents != 0) {
            pipeOpen = collector.ReadReady(pipeFd);
        }
        if (fds[0].revents != 0) {
            emptyAfterEnd = fds[1].revents == 0;
            break;
        }
    }
    writeEnd.Reset();
    if (pipeOpen && !emptyAfterEnd) {
        collector.ReadAvailable(pipeFd, kMaxDrainAfterExit);
    }
    return Reap(pid);
}

// Same without a process descriptor: short poll periods and a non-blocking reap.
int WaitWithPolling(pid_t pid, int pipeFd, Collector& collector, Deadline& deadline) {
    bool pipeOpen = true;
    for (;;) {
        deadline.Act();  // before the reap: an unreaped shell keeps its group id reserved
        int status = 0;
        pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid) {
            if (pipeOpen) {
                collector.ReadAvailable(pipeFd, kMaxDrainAfterExit);
            }
            return DecodeStatus(status);
        }
        if (got < 0 && errno != EINTR) {
            if (pipeOpen) {
                collector.ReadAvailable(pipeFd, kMaxDrainAfterExit);
            }
            return -1;
        }
        if (pipeOpen) {
            struct pollfd fds[1] = {{pipeFd, POLLIN, 0}};
            if (::poll(fds, 1, kFallbackPollMs) > 0) {
                pipeOpen = collector.ReadReady(pipeFd);
            }
        } else {
            ::poll(nullptr, 0, kFallbackPollMs);
        }
    }
}

// What a child is given: stdin from /dev/null, stdout and stderr into the pipe's write end,
// no other descriptor of the daemon, every signal at its default, none blocked, and a process
// group of its own. Each descriptor action asks the kernel for the descriptor limit as it is
// added, so the set for the write end's usual number is built once and then only read, by any
// thread (posix_spawn never changes it).
class ChildSetup {
  public:
    explicit ChildSetup(int writeFd) : writeFd_(writeFd) {
        actionsMade_ = posix_spawn_file_actions_init(&actions_) == 0;
        attributesMade_ = posix_spawnattr_init(&attributes_) == 0;
        // sigfillset leaves out the C library's own reserved real-time signals, and
        // posix_spawn then hands them to the child ignored; every bit set puts them back to
        // their default too.
        sigset_t allSignals;
        sigset_t noSignals;
        memset(&allSignals, 0xff, sizeof allSignals);
        sigemptyset(&noSignals);
        // dup2 clears close-on-exec on 1 and 2 only; everything else the daemon holds stays
        // behind, and closefrom also keeps back descriptors some library opened without the
        // flag.
        ready_ =
            actionsMade_ && attributesMade_ &&
            posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0) ==
                0 &&
            posix_spawn_file_actions_adddup2(&actions_, writeFd, STDOUT_FILENO) == 0 &&
            posix_spawn_file_actions_adddup2(&actions_, writeFd, STDERR_FILENO) == 0 &&
#if HAVE_SPAWN_CLOSEFROM
            posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1) == 0 &&
#endif
            posix_spawnattr_setsigdefault(&attributes_, &allSignals) == 0 &&
            posix_spawnattr_setsigmask(&attributes_, &noSignals) == 0 &&
            // A group of its own, so that a time limit reaches whatever the command started.
            posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
            posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                                       POSIX_SPAWN_SETPGROUP) == 0;
    }
    ~ChildSetup() {
        if (actionsMade_) {
            posix_spawn_file_actions_destroy(&actions_);
        }
        if (attributesMade_) {
            posix_spawnattr_destroy(&attributes_);
        }
    }
    ChildSetup(const ChildSetup&) = delete;
    ChildSetup& operator=(const ChildSetup&) = delete;

    bool Ready() const { return ready_; }
    int WriteFd() const { return writeFd_; }
    const posix_spawn_file_actions_t* Actions() const { return &actions_; }
    const posix_spawnattr_t* Attributes() const { return &attributes_; }

  private:
    int writeFd_;
    bool actionsMade_ = false;
    bool attributesMade_ = false;
    bool ready_ = false;
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

// The set for `writeFd`: the shared one when it was built for that number (the first call
// builds it, and it is kept for the daemon's life), else one of the caller's own in `own`.
// Null when none can be built.
const ChildSetup* SetupFor(int writeFd, std::unique_ptr<ChildSetup>& own) {
    static std::atomic<ChildSetup*> shared{nullptr};
    ChildSetup* current = shared.load();
    if (current != nullptr && current->WriteFd() == writeFd) {
        return current;
    }
    auto fresh = std::make_unique<ChildSetup>(writeFd);
    if (!fresh->Ready()) {
        return nullptr;
    }
    ChildSetup* none = nullptr;
    if (current == nullptr && shared.compare_exchange_strong(none, fresh.get())) {
        return fresh.release();
    }
    own = std::move(fresh);
    return own.get();
}

}  // namespace

int System(std::string command, std::string& output, int timeoutSeconds, bool* timedOut) {
    // Output passed as emptyResult is read and dropped, so the shared sink never grows and
    // concurrent callers never write it.
    const bool keep = &output != &emptyResult;
    if (keep) {
        output.clear();
    }

    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return -1;
    }
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);
    if (!MoveAboveStandardStreams(readEnd) || !MoveAboveStandardStreams(writeEnd)) {
        return -1;
    }
    std::unique_ptr<ChildSetup> own;
    const ChildSetup* setup = SetupFor(writeEnd.Get(), own);
    pid_t pid = -1;
    int spawned = -1;
    if (setup != nullptr) {
        // A plain line starts its program without the shell's own start-up. A program that
        // does not start that way (missing, not executable, no #! line) is left to the shell,
        // which then says and returns what it always did.
        std::vector<std::string> words;
        if (SplitPlainCommand(command, words)) {
            std::vector<char*> argv;
            for (std::string& word : words) {
                argv.push_back(&word[0]);
            }
            argv.push_back(nullptr);
            spawned = posix_spawn(&pid, argv[0], setup->Actions(), setup->Attributes(),
                                  argv.data(), environ);
        }
        if (spawned != 0) {
            char shell[] = "/bin/sh";
            char dashC[] = "-c";
            char* argv[] = {shell, dashC, &command[0], nullptr};
            spawned = posix_spawn(&pid, shell, setup->Actions(), setup->Attributes(), argv,
                                  environ);
        }
    }
    if (spawned != 0) {
        return -1;  // nothing started (a failed exec is reaped inside posix_spawn)
    }

    Collector collector(keep);
    Deadline deadline(pid, timeoutSeconds);
    int result;
    Fd processFd(OpenProcessFd(pid));
    const int openError = errno;
    if (processFd.Get() < 0) {
        writeEnd.Reset();  // only the child's copies are left, so its end shows as end of file
    }
    if (processFd.Get() >= 0) {
        result = WaitWithProcessFd(pid, processFd.Get(), readEnd.Get(), writeEnd, collector,
                                   deadline);
    } else if (openError == ESRCH) {
        // Already released by the kernel: SIGCHLD is ignored, so no status can be had.
        collector.ReadAvailable(readEnd.Get(), kMaxDrainAfterExit);
        Reap(pid);  // fails with ECHILD; kept so that no path can leave a zombie
        result = -1;
    } else {
        result = WaitWithPolling(pid, readEnd.Get(), collector, deadline);
    }
    if (deadline.Expired()) {
        result = kTimedOutStatus;  // whatever status the signal gave the shell
    }
    if (timedOut != nullptr) {
        *timedOut = deadline.Expired();
    }
    if (keep) {
        output.swap(collector.Text());
    }
    return result;
}
