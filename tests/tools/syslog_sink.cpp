// The box's system log: a datagram socket at /dev/log whose records become lines of a file.
// Also the box's keeper: when the process that started it dies, it ends every box process.
//
// Usage: syslog_sink SOCKET OUTPUT PARENT_PID
// Each record is appended to OUTPUT as one line (a trailing newline or NUL of the record is
// dropped, one newline added), written at once. The sink lives exactly as long as PARENT_PID:
// when that process dies (the daemon, for whatever reason), the sink kills every other
// process still in its network namespace, so nothing of a box outlives it, and then exits.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Only there so that the death signal ends a blocking recv instead of the sink.
void OnParentDeath(int) {}

ino_t NamespaceInode(const std::string& pid) {
    struct stat st;
    if (stat(("/proc/" + pid + "/ns/net").c_str(), &st) != 0) {
        return 0;
    }
    return st.st_ino;
}

// Kills every other process of this network namespace; returns how many were found.
int KillBoxProcesses(ino_t box) {
    int found = 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return 0;
    }
    std::string self = std::to_string(getpid());
    while (dirent* entry = readdir(proc)) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9' || self == name) {
            continue;
        }
        if (NamespaceInode(name) == box) {
            kill(static_cast<pid_t>(atoi(name)), SIGKILL);
            ++found;
        }
    }
    closedir(proc);
    return found;
}

// Repeats the sweep until it finds nobody, so children forked meanwhile go as well.
void EndBox() {
    ino_t box = NamespaceInode("self");
    if (box == 0) {
        return;
    }
    for (int round = 0; round < 200 && KillBoxProcesses(box) > 0; ++round) {
        usleep(10000);
    }
}

void WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: syslog_sink SOCKET OUTPUT PARENT_PID\n");
        return 2;
    }
    const char* socketPath = argv[1];
    const char* outputPath = argv[2];
    pid_t parent = static_cast<pid_t>(atoi(argv[3]));

    // No SA_RESTART: the signal must end a blocking recv.
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnParentDeath;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGUSR1);
    if (getppid() != parent) {
        EndBox();  // the parent died before the death signal was set
        return 1;
    }

    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        perror("syslog_sink: socket");
        return 1;
    }
    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (strlen(socketPath) >= sizeof address.sun_path) {
        fprintf(stderr, "syslog_sink: socket path too long\n");
        return 1;
    }
    strcpy(address.sun_path, socketPath);
    unlink(socketPath);
    int out = open(outputPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) {
        perror("syslog_sink: output");
        return 1;
    }
    // Everyone in the box may log, as on a real system.
    mode_t old = umask(0);
    int bound = bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    umask(old);
    if (bound != 0) {
        perror("syslog_sink: bind");
        return 1;
    }

    // The death signal interrupts recv; the timeout covers a signal that comes just before it.
    timeval timeout{0, 100000};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::vector<char> record(65536 + 1);
    for (;;) {
        if (getppid() != parent) {
            EndBox();
            return 0;
        }
        ssize_t n = recv(sock, record.data(), record.size() - 1, 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            perror("syslog_sink: recv");
            return 1;
        }
        size_t length = static_cast<size_t>(n);
        while (length > 0 && record[length - 1] == '\0') {
            --length;
        }
        if (length > 0 && record[length - 1] == '\n') {
            --length;
        }
        record[length] = '\n';
        WriteAll(out, record.data(), length + 1);
    }
}
