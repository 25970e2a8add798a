// Process-wide objects that start-up creates and the rest of the daemon uses.
// Owns the event handle, the voice lock, the check interval and the rc.conf run switch.
#include "core/daemon.h"

AlertEvent* event = nullptr;
Semaphore sem(37, "/bin/ls");
namespace daemon_state {
int32_t poll = 0;
}
std::atomic<int32_t> vigilerd_RC_Conf_Run{1};
