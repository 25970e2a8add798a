// Signal handling: the ignored signals, the thread that receives SIGHUP, SIGTERM and SIGALRM,
// and the reactions to them (check tick, pause modes, sleeping for good).
#pragma once

#include <atomic>
#include <cstdint>

// Set once the daemon has gone to sleep for good; from then on every signal is dropped.
extern std::atomic<int32_t> asleepForGood;

// Blocks SIGHUP, SIGTERM and SIGALRM in the calling thread (and the threads it creates later).
void BlockHandledSignals();

// Ignores the ten nuisance signals; with `all`, also SIGHUP, SIGALRM, SIGTERM and SIGCHLD,
// closes the log and marks the daemon asleep for good, for `reason` (a fixed word that the
// state file shows: "log-file", "pid-file", "settings", "rc-conf", "disabled", "stopped").
void IgnoreAllSignals(bool all, const char* reason = "");

// The reaction to one handled signal; runs on the signal thread, one at a time.
void SignalHandler(int sig);

// Starts the thread that receives the handled signals with sigwaitinfo. False on failure.
bool StartSignalThread();

// Receives and reacts to the handled signals on the calling thread; never returns. Used when
// the signal thread cannot be created.
[[noreturn]] void RunSignalLoop();

// Waits for signals forever; never returns.
[[noreturn]] void SleepForever();

// Logs "Warning: Sleeping forever", ignores every handled signal and waits forever.
[[noreturn]] void GoToSleepForever(const char* reason);
