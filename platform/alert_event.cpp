// The daemon's handle on the box's event manager, which is the system log.
// Owns the registration data and the sending of one alert record per Raise.
#include "platform/alert_event.h"

#include <syslog.h>

#include <mutex>

namespace {

// Opened once per process and never closed. No LOG_NDELAY: the socket is made on the first
// record. No LOG_CONS: alerts never go to the console. The C library sends each record on a
// close-on-exec socket with MSG_NOSIGNAL, so a vanished log reader cannot raise SIGPIPE.
void OpenSystemLog() {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("vigilerd", LOG_PID, LOG_DAEMON); });
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
    std::string message = Compose(text, a, b);
    OpenSystemLog();
    // The message goes in as an argument, never as the format: alert texts may hold '%'.
    syslog(LOG_DAEMON | LOG_ALERT, "%s", message.c_str());
    return 1;
}
