// The box-wide voice lock, shared with the voice subsystem through System V IPC.
// Owns creation, race-free first initialisation, try-lock and release.
#pragma once

#include <atomic>

// One System V semaphore keyed by ftok(path, id), value 1 when free and 0 when held. Every
// process that uses the lock builds the same object; whichever first needs the set creates it.
// Taking and giving back use SEM_UNDO, so the kernel frees the lock of a holder that dies.
// The lock is not owner-aware: a holder that tries again gets 0 like everybody else.
class Semaphore {
  public:
    // Only remembers the key; the set is opened (or created) by the first TryLock, so building
    // the object touches no IPC state, needs no log and cannot fail.
    Semaphore(int id, const char* path);
    ~Semaphore() = default;
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Takes the lock, without waiting when noWait is true (the only way the daemon calls it).
    // Non-zero when taken; 0 when someone else holds it or on any IPC failure.
    int TryLock(bool noWait);
    // Gives back a lock this object took; does nothing otherwise.
    void Unlock();

  private:
    bool Open();

    int id_;
    const char* path_;
    std::atomic<int> semId_{-1};
    std::atomic<bool> held_{false};
};
