// The box's system log: a datagram socket whose records become lines of a file. Also the box's
// keeper: once the process that started it dies, it kills every other process of the box.
//
// Usage: syslog_sink SOCKET OUTPUT PARENT_PID. Each record is appended to OUTPUT as one line
// (a trailing NUL or newline dropped). When PARENT_PID (the daemon) is gone, every process
// left in the sink's network namespace is killed, until none is found, and the sink exits.
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

static ino_t NetNamespace(const std::string& pid) {
    struct stat st;
    return stat(("/proc/" + pid + "/ns/net").c_str(), &st) == 0 ? st.st_ino : 0;
}

int main(int argc, char** argv) {
    sockaddr_un address{AF_UNIX, {}};
    if (argc != 4 || strlen(argv[1]) >= sizeof address.sun_path)
        return 2;
    strcpy(address.sun_path, argv[1]);
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int out = open(argv[2], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    unlink(argv[1]);
    umask(0);  // everyone in the box may log, as on a real system
    if (out < 0 || bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 1;
    timeval step{0, 100000};  // how often the parent is looked for
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &step, sizeof step);
    char record[65537];
    for (ssize_t n; getppid() == atoi(argv[3]);) {
        // A trailing newline or NUL (strchr finds the terminator too) is dropped.
        for (n = recv(sock, record, sizeof record - 1, 0); n > 0 && strchr("\n", record[n - 1]);)
            --n;
        if (n >= 0 && (record[n] = '\n', write(out, record, n + 1)) < 0)
            return 1;
    }
    for (int round = 0, found = 1; found && round < 300; ++round, usleep(10000)) {
        found = 0;
        DIR* proc = opendir("/proc");
        while (dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
            pid_t pid = atoi(entry->d_name);
            if (pid > 0 && pid != getpid() && NetNamespace(entry->d_name) == NetNamespace("self"))
                found |= kill(pid, SIGKILL) == 0;
        }
        if (proc != nullptr)
            closedir(proc);
    }
    return 0;
}
