// The box's system log (/dev/log): one record per call, in the form syslog(3) gives it.
// Owns the socket handling; used by the event channel and by the daemon log's copy.
#pragma once

#include <cstddef>

// Sends "<priority>time vigilerd[pid]: message" (priority with its facility) without ever
// waiting. Returns true when the whole record was handed to the logger.
bool SendSystemLog(int priority, const char* message, size_t length);
