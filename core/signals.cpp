// Signal handling: the ignored signals, the thread that receives SIGHUP, SIGTERM and SIGALRM,
// and the reactions to them (check tick, pause modes, sleeping for good).
#include "core/signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "config/rc_conf_reader.h"
#include "core/daemon.h"
#include "core/hw_watchdog.h"
#include "core/log.h"
#include "core/run_modes.h"
#include "core/state_file.h"
#include "monitor/check_cycle.h"

std::atomic<int32_t> asleepForGood{0};

namespace {

std::atomic<int32_t> signalThreadStarted{0};

sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGALRM);
    return set;
}

void OnTick() {
    std::lock_guard<std::mutex> lock(modeMutex);
    if (hibernateMode) {
        Report("Info: scheduled for test loop but hibernate mode is set\n");
        return;
    }
    if (waitingRunning) {
        Report("Info: scheduled for test loop but waiting mode is set\n");
        return;
    }
    if (!configurationRead) {
        return;
    }
    // Claimed before the thread exists, so no later tick can start a second one.
    int32_t idle = 0;
    if (!checkRunning.compare_exchange_strong(idle, 1)) {
        return;
    }
    if (!StartWorkerThread(CheckAllStati)) {
        checkRunning = 0;
        Report("Error: Could not create thread!!\n");
    }
}

void OnHangUp() {
    struct stat marker;
    bool markerPresent = stat(kHibernateMarker, &marker) == 0;
    bool rereadRcConf = false;
    bool waitStarted = false;
    {
        std::lock_guard<std::mutex> lock(modeMutex);
        if (markerPresent) {
            hibernateMode = 1;
            stopChecks = 1;
            Report("Info: Hibernate mode has been set\n");
        } else if (hibernateMode) {
            stopChecks = 0;
            hibernateMode = 0;
            Report("Info: Hibernate mode has been reset\n");
            rereadRcConf = true;
            NoteChecksAlive();
        } else {
            stopChecks = 1;
            waitStarted = true;
            int32_t idle = 0;
            if (waitingRunning.compare_exchange_strong(idle, 1)) {
                waitingTime = kWaitSeconds;
                if (!StartWorkerThread(ActiveWait)) {
                    waitingRunning = 0;
                    Report("Error: Could not create thread!!\n");
                }
            } else {
                waitingTime = kWaitSeconds;
            }
            Report("Info: Wait mode has been set (%d seconds)\n", kWaitSeconds);
        }
        NoteModeChange(waitStarted);
    }
    // Outside the mode lock: the wait thread takes that lock after its own rc.conf pass.
    if (rereadRcConf) {
        ReadRCConf();
    }
    WriteStateFile();
}

void OnSleep() {
    remove(kPidPath);
    Report("Info: got sleep signal. Ignoring all signals and going to sleep\n");
    DisarmHardwareWatchdog();
    CloseLog();
    stopChecks = 1;
    IgnoreAllSignals(true, "stopped");
}

void* SignalLoop(void*) {
    sigset_t handled = HandledSignals();
    for (;;) {
        siginfo_t info;
        timespec wait;
        // With a hardware watchdog, the wait for a signal ends whenever a keepalive is due.
        int sig = KeepaliveWait(wait) ? sigtimedwait(&handled, &info, &wait)
                                      : sigwaitinfo(&handled, &info);
        FeedHardwareWatchdog();
        if (sig < 0 || asleepForGood) {
            continue;  // asleep for good: every handled signal is dropped
        }
        SignalHandler(sig);
    }
    return nullptr;
}

}  // namespace

void BlockHandledSignals() {
    sigset_t handled = HandledSignals();
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);
}

void IgnoreAllSignals(bool all, const char* reason) {
    static const int kNuisance[] = {SIGINT,  SIGILL,  SIGQUIT, SIGTRAP, SIGUSR1,
                                    SIGUSR2, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU};
    for (int sig : kNuisance) {
        signal(sig, SIG_IGN);
    }
    if (all) {
        signal(SIGHUP, SIG_IGN);
        signal(SIGALRM, SIG_IGN);
        signal(SIGTERM, SIG_IGN);
        signal(SIGCHLD, SIG_IGN);
        NoteAsleep(reason);
        asleepForGood = 1;
        WriteStateFile();
        CloseLog();
    }
}

void SignalHandler(int sig) {
    Report("Debug: got signal: %d\n", sig);
    switch (sig) {
        case SIGALRM:
            OnTick();
            break;
        case SIGTERM:
            OnSleep();
            break;
        case SIGHUP:
            OnHangUp();
            break;
        default:
            break;
    }
}

bool StartSignalThread() {
    bool started = StartWorkerThread(SignalLoop);
    signalThreadStarted = started ? 1 : 0;
    return started;
}

void RunSignalLoop() {
    SignalLoop(nullptr);
    __builtin_unreachable();
}

void SleepForever() {
    // Without a signal thread, this thread feeds the hardware watchdog while it sleeps: a box
    // whose watcher cannot start must not be reset in a loop.
    if (signalThreadStarted == 0 && HardwareWatchdogFed()) {
        RunSignalLoop();
    }
    for (;;) {
        pause();
    }
}

void GoToSleepForever(const char* reason) {
    Report("Warning: Sleeping forever\n");
    IgnoreAllSignals(true, reason);
    SleepForever();
}
