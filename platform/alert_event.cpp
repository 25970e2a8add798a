// The daemon's handle on the box's event manager, which is the system log.
// Owns the registration data and the sending of one alert record per Raise.
#include "platform/alert_event.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

constexpr const char* kSystemLogSocket = "/dev/log";

// Hands one record to the system log on a socket of its own, and never waits: a logger that
// is gone, stopped or behind with its reading costs that alert, never the check that raised
// it (the C library's syslog blocks on a full queue until the logger reads again). A fresh
// socket per record follows the logger through restarts, whether it listens on a datagram or
// a stream socket; MSG_NOSIGNAL keeps a logger that hung up from raising SIGPIPE.
bool SendRecord(const std::string& message) {
    time_t now = time(nullptr);
    struct tm local;
    char stamp[32];
    if (localtime_r(&now, &local) == nullptr ||
        strftime(stamp, sizeof stamp, "%h %e %T", &local) == 0) {
        stamp[0] = '\0';
    }
    // The form syslog(3) gives it: priority, time, ident and pid, then the message.
    std::string record = "<" + std::to_string(LOG_DAEMON | LOG_ALERT) + ">" + stamp + " vigilerd[" +
                         std::to_string(getpid()) + "]: " + message;

    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, kSystemLogSocket, sizeof address.sun_path - 1);
    for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
        int fd = socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            return false;
        }
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            int error = errno;
            close(fd);
            if (error == EPROTOTYPE) {
                continue;  // the logger listens on the other kind of socket
            }
            return false;
        }
        // On a stream, a NUL ends the record.
        size_t length = record.size() + (type == SOCK_STREAM ? 1 : 0);
        ssize_t sent = send(fd, record.c_str(), length, MSG_NOSIGNAL | MSG_DONTWAIT);
        close(fd);
        return sent == static_cast<ssize_t>(length);
    }
    return false;
}

}  // namespace

int AlertEvent::Register(const char* category, const char* source) {
    category_ = category != nullptr ? category : "";
    source_ = source != nullptr ? source : "";
    return 1;
}

// The message is the source, ": " and the alert text, then a blank and `a`, then a blank and
// `b`, each extra only when it is non-null and non-empty. For example:
// "Software Watchdog: Warning: Running low on file system space for voice mails. 8.0 percent
// left." Before Register the message is the text and its extras alone.
std::string AlertEvent::Compose(const char* text, const char* a, const char* b) const {
    std::string message;
    if (!source_.empty()) {
        message = source_ + ": ";
    }
    if (text != nullptr) {
        message += text;
    }
    for (const char* extra : {a, b}) {
        if (extra != nullptr && extra[0] != '\0') {
            message += ' ';
            message += extra;
        }
    }
    return message;
}

int AlertEvent::Raise(const char* text, const char* a, const char* b) {
    // The text is sent as it is, never used as a format: alert texts may hold '%'.
    SendRecord(Compose(text, a, b));
    return 1;
}
