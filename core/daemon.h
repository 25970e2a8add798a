// Process-wide objects that start-up creates and the rest of the daemon uses.
// Owns the event handle, the voice lock, the check interval and the rc.conf run switch.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/alert_event.h"
#include "platform/semaphore.h"

constexpr const char* kPidPath = "/var/run/vigilerd.pid";

extern AlertEvent* event;
extern Semaphore sem;
// The check interval in seconds; -1 when none is known. It lives in a namespace because a
// global symbol named poll would shadow the C library's poll(2) at link time; files that use
// it must not include <poll.h>.
namespace daemon_state {
extern int32_t poll;
}
using daemon_state::poll;
extern std::atomic<int32_t> vigilerd_RC_Conf_Run;
