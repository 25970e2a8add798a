// The run-mode flags shared by the signal reactions, the check thread and the wait thread,
// the wait thread itself, and the start of the daemon's detached worker threads.
#include "core/run_modes.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include "config/rc_conf_reader.h"
#include "core/hw_watchdog.h"
#include "core/state_file.h"

std::atomic<int32_t> hibernateMode{0};
std::atomic<int32_t> waitingRunning{0};
std::atomic<int32_t> waitingTime{kWaitSeconds};
std::atomic<int32_t> checkRunning{0};
std::atomic<int32_t> stopChecks{0};
std::atomic<int32_t> configurationRead{0};
std::mutex modeMutex;

bool StartWorkerThread(void* (*body)(void*)) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        return false;
    }
    const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
    size_t stack = kWorkerStackSize < minimum ? minimum : kWorkerStackSize;
    pthread_attr_setstacksize(&attributes, stack);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    // The new thread inherits the creator's signal mask, in which the handled signals are
    // blocked, so only the signal thread ever receives them.
    pthread_t thread;
    int result = pthread_create(&thread, &attributes, body, nullptr);
    pthread_attr_destroy(&attributes);
    return result == 0;
}

void* ActiveWait(void*) {
    waitingRunning = 1;
    waitingTime = kWaitSeconds;
    for (;;) {
        do {
            --waitingTime;
            sleep(1);
        } while (waitingTime > 0);

        ReadRCConf();

        std::lock_guard<std::mutex> lock(modeMutex);
        // A SIGHUP that came while rc.conf was being read has already announced a fresh
        // wait; honour it instead of ending under its feet.
        if (waitingTime <= 0) {
            stopChecks = 0;
            waitingRunning = 0;
            NoteModeChange(false);
            NoteChecksAlive();
            WriteStateFile();
            return nullptr;
        }
    }
}
