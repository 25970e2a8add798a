// The box-wide voice lock, shared with the voice subsystem through System V IPC.
// Owns creation, race-free first initialisation, try-lock and release.
#pragma once

class Semaphore {
public:
    // One semaphore keyed by ftok(path, id); 1 means free. Whoever comes first creates it.
    Semaphore(int id, const char* path);
    ~Semaphore() = default;
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Takes the lock without waiting (with SEM_UNDO, so a holder that dies frees it).
    // Non-zero when taken; 0 when someone else holds it or on any IPC failure.
    int TryLock(bool noWait);
    void Unlock();

private:
    bool Open();

    int id_;
    const char* path_;
    int semId_ = -1;
};
