// The interval timer that raises SIGALRM for each check tick.
// Owns arming and disarming of ITIMER_REAL.
#include "core/timer.h"

#include <sys/time.h>

void SetTimer(int seconds) {
    struct itimerval value = {};
    if (seconds > 0) {
        value.it_value.tv_sec = seconds;
        value.it_interval.tv_sec = seconds;
    }
    setitimer(ITIMER_REAL, &value, nullptr);
}
