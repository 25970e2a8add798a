// The box's system log (/dev/log): one record per call, in the form syslog(3) gives it.
// Owns the socket handling; used by the event channel and by the daemon log's copy.
#include "platform/system_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

namespace {

constexpr const char* kSystemLogSocket = "/dev/log";

}  // namespace

// A fresh socket per record follows the logger through restarts, whether it listens on a
// datagram or a stream socket, and never waits: a logger that is gone, stopped or behind with
// its reading costs that record, never the daemon's work (the C library's syslog blocks on a
// full queue until the logger reads again). MSG_NOSIGNAL keeps a logger that hung up from
// raising SIGPIPE.
bool SendSystemLog(int priority, const char* message, size_t length) {
    time_t now = time(nullptr);
    struct tm local;
    char stamp[32];
    if (localtime_r(&now, &local) == nullptr ||
        strftime(stamp, sizeof stamp, "%h %e %T", &local) == 0) {
        stamp[0] = '\0';
    }
    static const pid_t pid = getpid();  // the daemon never forks
    char head[80];
    int headLength = snprintf(head, sizeof head, "<%d>%s vigilerd[%d]: ", priority, stamp, pid);
    if (headLength < 0 || static_cast<size_t>(headLength) >= sizeof head) {
        return false;
    }
    // On a stream, a NUL ends the record; the buffer always carries one.
    size_t total = static_cast<size_t>(headLength) + length;
    char* record = static_cast<char*>(malloc(total + 1));
    if (record == nullptr) {
        return false;
    }
    memcpy(record, head, headLength);
    memcpy(record + headLength, message, length);
    record[total] = '\0';

    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, kSystemLogSocket, sizeof address.sun_path - 1);
    bool sent = false;
    for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
        int fd = socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            break;
        }
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            int error = errno;
            close(fd);
            if (error == EPROTOTYPE) {
                continue;  // the logger listens on the other kind of socket
            }
            break;
        }
        size_t size = total + (type == SOCK_STREAM ? 1 : 0);
        sent = send(fd, record, size, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(size);
        close(fd);
        break;
    }
    free(record);
    return sent;
}
