// The box's hardware watchdog: opening the device, the keepalives written by the signal thread,
// the stall watch, the two final stops and the disarming close. Owns the device descriptor.
#include "core/hw_watchdog.h"

#include <fcntl.h>
#include <linux/watchdog.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "config/settings_reader.h"
#include "core/daemon.h"
#include "core/log.h"
#include "core/run_modes.h"
#include "core/signals.h"
#include "core/state_file.h"
#include "monitor/reboot_budget.h"

namespace {

enum class Feeding { kNone, kNotOpen, kFed, kStoppedReboot, kStoppedStall, kDisarmed };

// Guards everything below. The open holds it too, so a SIGTERM that comes while start-up
// opens the device still disarms it.
std::mutex deviceMutex;
int device = -1;
Feeding feeding = Feeding::kNone;
int32_t timeoutInForce = -1;
int64_t nextKeepaliveMs = 0;  // monotonic
int64_t lastKeepalive = 0;    // seconds since the epoch, for the state file
int64_t aliveMs = 0;          // monotonic: a stall is counted from here
bool writeFailing = false;    // the current run of failed writes has been logged
bool stallReported = false;   // the current stall has logged its busy voice lock
bool disarmRequested = false;
// Read without the lock by the callers that run on every pass, with or without a device.
std::atomic<int32_t> fed{0};
// Set once start-up has tried the device. Until then the signal thread waits in short steps,
// since no signal would tell it that keepalives have become due.
std::atomic<int32_t> settled{0};
constexpr long kUnsettledWaitNs = 100 * 1000 * 1000;

int64_t NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// At least three keepalives per timeout; every second when the timeout is unknown.
int64_t PeriodMs() {
    return timeoutInForce > 0 ? static_cast<int64_t>(timeoutInForce) * 1000 / 3 : 1000;
}

// The stall watch applies only while checks are meant to run: not paused, not asleep, and
// with a timer that starts passes. An idle daemon must not reset the box in a loop.
bool WatchingForStall() {
    return watchdogStall > 0 && poll > 0 && hibernateMode.load() == 0 &&
           waitingRunning.load() == 0 && asleepForGood.load() == 0;
}

void SetFeeding(Feeding state) {
    feeding = state;
    fed = state == Feeding::kFed ? 1 : 0;
}

const char* StateName() {
    switch (feeding) {
        case Feeding::kFed:
            return "fed";
        case Feeding::kStoppedReboot:
            return "stopped:reboot";
        case Feeding::kStoppedStall:
            return "stopped:stall";
        case Feeding::kDisarmed:
            return "disarmed";
        default:
            return "not-open";
    }
}

// The last reset was the hardware's: said in the log and to the fleet's syslog.
void LastResetWasHardware() {
    Report("Warning: The last reset was made by the hardware watchdog\n");
    if (event != nullptr) {
        event->Raise("The hardware watchdog reset the box.", nullptr, nullptr);
    }
    RecordHardwareReset();  // a reboot the watcher caused, so it counts against the budget
}

// The checks have stalled for `seconds` and the voice lock is held: the keepalives stop for
// good and the hardware resets the box. The lock is kept so no call starts before the reset.
// Returns false when the keepalives are to go on after all.
bool StallResetsBox(int32_t seconds) {
    // A hardware reset is a reboot: under a spent budget the box stays up and is fed on. The
    // stall is known by the time it is counted from, so its line is logged once.
    if (!RebootBudgetAllowsStall(aliveMs)) {
        return false;
    }
    char text[128];
    snprintf(text, sizeof text,
             "Checks have stalled for %d seconds. The hardware watchdog resets the box.",
             static_cast<int>(seconds));
    if (event != nullptr) {
        event->Raise(text, nullptr, nullptr);
    }
    Report("Error: Checks have stalled for %d seconds. Hardware watchdog keepalives stopped\n",
           static_cast<int>(seconds));
    SetFeeding(Feeding::kStoppedStall);
    return true;
}

// True when the keepalives have stopped because the checks stalled.
bool CheckForStall(int64_t now) {
    if (!WatchingForStall() || now - aliveMs < static_cast<int64_t>(watchdogStall) * 1000) {
        stallReported = false;
        return false;
    }
    if (sem.TryLock(true) == 0) {
        if (!stallReported) {
            stallReported = true;
            Report(
                "Error: Voice subsystem is in use. Could not let the hardware watchdog reset the "
                "box\n");
        }
        return false;
    }
    if (!StallResetsBox(static_cast<int32_t>((now - aliveMs) / 1000))) {
        sem.Unlock();
        return false;
    }
    return true;
}

void WriteKeepalive(int64_t now) {
    // A keepalive is any byte but the magic 'V'. A device that is really a pipe whose reader
    // has gone must give EPIPE, not end the daemon: SIGPIPE stays pending on this thread.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    ssize_t written;
    do {
        written = write(device, "", 1);
    } while (written < 0 && errno == EINTR);
    nextKeepaliveMs = now + PeriodMs();
    if (written == 1) {
        writeFailing = false;
        lastKeepalive = time(nullptr);
    } else if (!writeFailing) {
        int error = written < 0 ? errno : EIO;
        writeFailing = true;
        Report("Error: Could not feed the hardware watchdog %s (%d = %s)\n", watchdogDevice.c_str(),
               error, strerror(error));
    }
}

}  // namespace

void OpenHardwareWatchdog() {
    // However it ends, the signal thread knows from now on whether it must keep time.
    struct Settle {
        ~Settle() { settled = 1; }
    } settle;
    if (watchdogDevice.empty()) {
        return;
    }
    bool cardReset = false;
    {
        std::lock_guard<std::mutex> lock(deviceMutex);
        if (disarmRequested) {
            return;  // the operator stopped the daemon while it was starting
        }
        // Close-on-exec: a command that inherited the device would keep it open after the
        // daemon died, and the hardware would never see the keepalives stop.
        device = open(watchdogDevice.c_str(), O_WRONLY | O_CLOEXEC);
        if (device < 0) {
            int error = errno;
            SetFeeding(Feeding::kNotOpen);
            Report("Error: Could not open the hardware watchdog %s (%d = %s)\n",
                   watchdogDevice.c_str(), error, strerror(error));
            return;
        }
        if (watchdogTimeout > 0) {
            int timeout = watchdogTimeout;
            ioctl(device, WDIOC_SETTIMEOUT, &timeout);  // the driver may round it
        }
        int timeout = -1;
        if (ioctl(device, WDIOC_GETTIMEOUT, &timeout) != 0 || timeout <= 0) {
            timeout = -1;  // anything that is not a watchdog driver answers ENOTTY
        }
        timeoutInForce = timeout;
        watchdog_info info = {};
        char identity[sizeof info.identity + 1] = "unknown";
        if (ioctl(device, WDIOC_GETSUPPORT, &info) == 0) {
            memcpy(identity, info.identity, sizeof info.identity);
            identity[sizeof info.identity] = '\0';
        }
        int status = 0;
        cardReset =
            ioctl(device, WDIOC_GETBOOTSTATUS, &status) == 0 && (status & WDIOF_CARDRESET) != 0;
        Report("Info: Hardware watchdog %s opened (%s, timeout %d seconds)\n",
               watchdogDevice.c_str(), identity, timeoutInForce);
        SetFeeding(Feeding::kFed);
        aliveMs = NowMs();
        WriteKeepalive(aliveMs);
    }
    if (cardReset) {
        LastResetWasHardware();
    }
}

bool HardwareWatchdogFed() {
    return fed.load() != 0;
}

bool KeepaliveWait(timespec& wait) {
    if (fed.load() == 0) {
        wait = {0, kUnsettledWaitNs};
        return settled.load() == 0;
    }
    std::lock_guard<std::mutex> lock(deviceMutex);
    int64_t now = NowMs();
    int64_t due = nextKeepaliveMs;
    int64_t stallAt = aliveMs + static_cast<int64_t>(watchdogStall) * 1000;
    // The stall is looked at the moment it falls due, not at the next keepalive only.
    if (WatchingForStall() && stallAt > now && stallAt < due) {
        due = stallAt;
    }
    int64_t left = due > now ? due - now : 0;
    wait.tv_sec = static_cast<time_t>(left / 1000);
    wait.tv_nsec = static_cast<long>(left % 1000) * 1000000;
    return true;
}

void FeedHardwareWatchdog() {
    if (fed.load() == 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(deviceMutex);
        if (feeding != Feeding::kFed) {
            return;
        }
        int64_t now = NowMs();
        if (!CheckForStall(now)) {
            if (now >= nextKeepaliveMs) {
                WriteKeepalive(now);
            }
            return;
        }
    }
    WriteStateFile();
}

void NoteChecksAlive() {
    if (fed.load() == 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(deviceMutex);
    aliveMs = NowMs();
}

void StopKeepalivesForReboot() {
    if (fed.load() == 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(deviceMutex);
        if (feeding != Feeding::kFed) {
            return;
        }
        SetFeeding(Feeding::kStoppedReboot);
        Report("Info: Hardware watchdog keepalives stopped: reboot in progress\n");
    }
    WriteStateFile();
}

void DisarmHardwareWatchdog() {
    std::lock_guard<std::mutex> lock(deviceMutex);
    disarmRequested = true;
    if (feeding != Feeding::kFed) {
        return;
    }
    Report("Info: Hardware watchdog disarmed\n");
    ssize_t written;
    do {
        written = write(device, "V", 1);
    } while (written < 0 && errno == EINTR);
    close(device);
    device = -1;
    SetFeeding(Feeding::kDisarmed);
}

void AppendHardwareWatchdogState(std::string& text) {
    // Set only once the device has been tried, after the settings were read.
    std::lock_guard<std::mutex> lock(deviceMutex);
    if (feeding == Feeding::kNone) {
        return;
    }
    char lines[160];
    snprintf(lines, sizeof lines,
             "WATCHDOG_TIMEOUT=%d\nWATCHDOG_LAST_KEEPALIVE=%lld\nWATCHDOG_STATE=%s\n",
             static_cast<int>(timeoutInForce), static_cast<long long>(lastKeepalive), StateName());
    text += "WATCHDOG_DEVICE=" + watchdogDevice + "\n" + lines;
}
