// The daemon's handle on the box's event manager, which is the system log.
// Owns the registration data and the sending of one alert record per Raise.
#pragma once

#include <string>

class AlertEvent {
public:
    AlertEvent() = default;

    // Remembers who raises the alerts. Returns non-zero.
    int Register(const char* category, const char* source);

    // Sends one syslog record (LOG_DAEMON, LOG_ALERT) holding the source and the text
    // verbatim, followed by `a` and `b` when they are non-null and non-empty. Returns non-zero
    // when the record was handed to syslog.
    int Raise(const char* text, const char* a, const char* b);

    // The message text Raise sends, exposed so its form can be tested.
    std::string Compose(const char* text, const char* a, const char* b) const;

private:
    std::string category_;
    std::string source_;
};
