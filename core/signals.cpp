// TEMPORARY placeholder, replaced by the real implementation.
#include "core/signals.h"
#include <unistd.h>
std::atomic<int32_t> asleepForGood{0};
void BlockHandledSignals() {}
void IgnoreAllSignals(bool) {}
void SignalHandler(int) {}
bool StartSignalThread() { return false; }
void SleepForever() { for (;;) pause(); }
void GoToSleepForever() { SleepForever(); }
