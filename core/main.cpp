// Start-up of the daemon: log, pid file, event handle, signals, configuration, timer.
// Afterwards the main thread only waits; everything else is started by a signal.
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/rc_conf_reader.h"
#include "config/service_reader.h"
#include "config/settings_reader.h"
#include "core/daemon.h"
#include "core/log.h"
#include "core/run_modes.h"
#include "core/signals.h"
#include "core/state_file.h"
#include "core/timer.h"
#include "core/unsafe_files.h"

#if VIGILERD_STATIC_RUNTIME
#include <cstdlib>
namespace __gnu_cxx {
// Replaces the runtime's handler for an uncaught exception, which prints the exception's
// type and would link the whole C++ demangler (some 40 KiB of text) into the daemon; nobody
// reads the daemon's standard error on a box.
void __verbose_terminate_handler() {
    abort();
}
}  // namespace __gnu_cxx
#endif

int main() {
#ifdef M_ARENA_MAX
    // One heap for every thread: each worker thread would otherwise get an arena of its own
    // that stays mapped and dirty long after the thread is gone, and they allocate little.
    mallopt(M_ARENA_MAX, 1);
#endif
    // Before any thread exists, so every thread inherits the mask and only the signal thread
    // ever receives the handled signals.
    BlockHandledSignals();

    if (!OpenLog(kLogPath)) {
        int error = errno;
        fprintf(stderr, "Fatal Error: Could not open logfile %s. (%d = %s)\n", kLogPath, error,
                strerror(error));
        fprintf(stderr, "Warning: Sleeping forever\n");
        IgnoreAllSignals(true);
        SleepForever();
    }

    pidFile = fopen(kPidPath, "w+e");
    if (pidFile == nullptr) {
        int error = errno;
        Report("Fatal Error: Could not open pidfile %s. (%d = %s)\n", kPidPath, error,
               strerror(error));
        GoToSleepForever();
    }
    fprintf(pidFile, "%d\n", getpid());
    fclose(pidFile);
    pidFile = nullptr;

    event = new AlertEvent;
    event->Register("system", "Software Watchdog");

    IgnoreAllSignals(false);
    bool signalThread = StartSignalThread();
    if (!signalThread) {
        // Signals then wait, blocked, until start-up is done and this thread takes them.
        Report("Error: Could not create thread!!\n");
    }
    Report("Info: started\n");

    poll = ReadVigilerConfig();
    if (poll != -1) {
        ReadRCConf();
        if (vigilerd_RC_Conf_Run == 0) {
            GoToSleepForever();
        }
        ReadServiceConfigs();
        WarnUnsafeFiles();
    }
    configurationRead = 1;
    StartStateFile(poll);
    if (poll != -1) {
        SetTimer(poll);
    }

    if (!signalThread) {
        RunSignalLoop();
    }
    SleepForever();
}
