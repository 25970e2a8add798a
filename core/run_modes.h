// The run-mode flags shared by the signal reactions, the check thread and the wait thread,
// the wait thread itself, and the start of the daemon's detached worker threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

constexpr const char* kHibernateMarker = "/tmp/hibernateMode";
constexpr int32_t kWaitSeconds = 40;

extern std::atomic<int32_t> hibernateMode;
extern std::atomic<int32_t> waitingRunning;
extern std::atomic<int32_t> waitingTime;
extern std::atomic<int32_t> checkRunning;
extern std::atomic<int32_t> stopChecks;
// Set by start-up once the service table is filled. A tick sent from outside before that
// starts no pass, so no pass ever reads rows that start-up is still writing.
extern std::atomic<int32_t> configurationRead;

// Held while a signal reaction tests and changes the flags, and while a worker thread ends,
// so a reaction never sees a thread half-way through leaving.
extern std::mutex modeMutex;

// Stack of each worker thread; the daemon runs on boxes with little memory. The deepest user
// is a check pass: a log line (1 KiB plus vsnprintf) inside a command run (8 KiB read buffer).
// Sanitizer builds pad every frame, so they get the room they need.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kWorkerStackSize = 256 * 1024;
#else
constexpr size_t kWorkerStackSize = 64 * 1024;
#endif

// Starts a detached worker thread with the small stack and every handled signal blocked.
// Returns false when the thread cannot be created.
bool StartWorkerThread(void* (*body)(void*));

// Body of the wait thread: counts kWaitSeconds down, then re-reads rc.conf and clears the
// wait flags.
void* ActiveWait(void*);
