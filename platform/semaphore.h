// The box-wide voice lock, shared with the voice subsystem through System V IPC.
// Owns creation, race-free first initialisation, try-lock and release.
#pragma once

#include <mutex>

// One System V semaphore keyed by ftok(path, id), value 1 when free and 0 when held. Every
// process that uses the lock builds the same object; whichever first needs the set creates it.
// Taking and giving back use SEM_UNDO, so the kernel frees the lock of a holder that dies.
// Within the process the lock nests: a holder that tries again gets it, and the box sees it
// free again only after as many Unlocks as successful TryLocks.
class Semaphore {
  public:
    // Only remembers the key; the set is opened (or created) by the first TryLock, so building
    // the object touches no IPC state, needs no log and cannot fail.
    Semaphore(int id, const char* path);
    ~Semaphore() = default;
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Takes the lock, without waiting when noWait is true (the only way the daemon calls it).
    // Non-zero when taken or already held by this process (one more level of nesting); 0 when
    // another process holds it, its creator has not made it free yet, or on any IPC failure.
    int TryLock(bool noWait);
    // Gives back one level of nesting; the box gets the lock back at the last. Does nothing
    // when this object holds nothing.
    void Unlock();

  private:
    bool Open();

    int id_;
    const char* path_;
    std::mutex mutex_;  // guards the two below; never held while anything waits
    int semId_ = -1;
    int depth_ = 0;
};
