// The daemon's handle on the box's event manager, which is the system log.
// Owns the registration data and the sending of one alert record per Raise.
#include "platform/alert_event.h"

#include <syslog.h>

#include "platform/system_log.h"

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
    std::string message = Compose(text, a, b);
    SendSystemLog(LOG_DAEMON | LOG_ALERT, message.data(), message.size());
    return 1;
}
