// TEMPORARY placeholder, replaced by the real implementation.
#include "core/run_modes.h"
std::atomic<int32_t> hibernateMode{0};
std::atomic<int32_t> waitingRunning{0};
std::atomic<int32_t> waitingTime{kWaitSeconds};
std::atomic<int32_t> checkRunning{0};
std::atomic<int32_t> stopChecks{0};
std::mutex modeMutex;
bool StartWorkerThread(void* (*)(void*)) { return false; }
void* ActiveWait(void*) { return nullptr; }
