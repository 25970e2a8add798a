// Start-up of the daemon: command line, pid-file lock, log, event handle, signals,
// configuration, timer. Afterwards the main thread only waits; a signal starts the rest.
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/rc_conf_reader.h"
#include "config/service_reader.h"
#include "config/settings_reader.h"
#include "core/daemon.h"
#include "core/hw_watchdog.h"
#include "core/log.h"
#include "core/pid_file.h"
#include "core/run_modes.h"
#include "core/signals.h"
#include "core/state_file.h"
#include "core/timer.h"
#include "core/unsafe_files.h"
#include "monitor/reboot_budget.h"

namespace {

// --version and --help print and end; anything else is refused before any file is touched.
int Arguments(int argc, char** argv) {
    std::string arg = argv[1];
    if (argc == 2 && arg == "--version") {
        printf("vigilerd %s\n", VIGILERD_VERSION);
        return 0;
    }
    const char* usage = "usage: vigilerd [--version | --help]\n";
    if (argc == 2 && arg == "--help") {
        fputs(usage, stdout);
        return 0;
    }
    fputs(usage, stderr);
    return 64;
}

// The one way the program ends: it never became the daemon and has touched no file.
int AlreadyRunning(pid_t holder) {
    fprintf(stderr, "vigilerd: already running as pid %d\n", static_cast<int>(holder));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        return Arguments(argc, argv);
    }
#ifdef M_ARENA_MAX
    // One heap for every thread: each worker thread would otherwise get an arena of its own
    // that stays mapped and dirty long after the thread is gone, and they allocate little.
    mallopt(M_ARENA_MAX, 1);
#endif
    // Before any thread exists, so every thread inherits the mask and only the signal thread
    // ever receives the handled signals.
    BlockHandledSignals();

    // The lock of an existing pid file is tried before the log is opened, so a second start
    // leaves every file as it found it.
    pid_t holder = 0;
    int pidFd = LockPidFile(false, holder);
    if (pidFd == kPidFileHeld) {
        return AlreadyRunning(holder);
    }

    if (!OpenLog(kLogPath)) {
        int error = errno;
        fprintf(stderr, "Fatal Error: Could not open logfile %s. (%d = %s)\n", kLogPath, error,
                strerror(error));
        fprintf(stderr, "Warning: Sleeping forever\n");
        IgnoreAllSignals(true, "log-file");
        SleepForever();
    }

    if (pidFd < 0) {
        pidFd = LockPidFile(true, holder);
        if (pidFd == kPidFileHeld) {
            return AlreadyRunning(holder);  // another start created it a moment ago
        }
    }
    if (pidFd < 0) {
        int error = errno;
        Report("Fatal Error: Could not open pidfile %s. (%d = %s)\n", kPidPath, error,
               strerror(error));
        GoToSleepForever("pid-file");
    }
    WritePid(pidFd);  // the descriptor stays open: the lock lasts as long as the process

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
    StartRebootBudget();
    OpenHardwareWatchdog();
    if (poll != -1) {
        bool readable = ReadRCConf();
        if (vigilerd_RC_Conf_Run == 0) {
            GoToSleepForever(readable ? "disabled" : "rc-conf");
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
