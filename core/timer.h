// The interval timer that raises SIGALRM for each check tick.
// Owns arming and disarming of ITIMER_REAL.
#pragma once

// Arms a periodic timer of `seconds` (first expiry and period alike). 0 or less disarms it.
void SetTimer(int seconds);
