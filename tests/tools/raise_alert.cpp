// Test tool that raises one alert the way the daemon does, for checks of the event channel.
// Owns nothing but that one Raise call.
#include "platform/alert_event.h"

// Usage: raise_alert TEXT [A [B]]. A missing A or B is passed as a null pointer.
int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    AlertEvent* alert = new AlertEvent;
    alert->Register("system", "Software Watchdog");
    alert->Raise(argv[1], argc > 2 ? argv[2] : nullptr, argc > 3 ? argv[3] : nullptr);
    delete alert;
    return 0;
}
