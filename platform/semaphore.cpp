// The box-wide voice lock, shared with the voice subsystem through System V IPC.
// Owns creation, race-free first initialisation, try-lock and release.
#include "platform/semaphore.h"

#include <errno.h>
#include <sys/ipc.h>
#include <sys/sem.h>

Semaphore::Semaphore(int id, const char* path) : id_(id), path_(path) {}

// Opens the set, creating it free when it does not exist yet. A new set starts at 0 and only
// its creator raises it to 1. A set someone else created is used as it is: one set up with
// semctl(SETVAL) is free at once, and one whose creator has not finished reads as busy, which
// is the right answer for a try.
bool Semaphore::Open() {
    key_t key = ftok(path_, id_);
    if (key == -1) {
        return false;
    }
    // Readable and writable by all: the voice subsystem may run under another user.
    int semId = semget(key, 1, IPC_CREAT | IPC_EXCL | 0666);
    if (semId >= 0) {
        // No SEM_UNDO: this +1 is the set's initial value, not a lock operation.
        struct sembuf makeFree = {0, 1, 0};
        if (semop(semId, &makeFree, 1) != 0) {
            semctl(semId, 0, IPC_RMID);  // let the next attempt start over
            return false;
        }
        semId_ = semId;
        return true;
    }
    if (errno != EEXIST) {
        return false;
    }
    semId = semget(key, 1, 0);
    if (semId < 0) {
        return false;
    }
    semId_ = semId;
    return true;
}

int Semaphore::TryLock(bool noWait) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (depth_ > 0) {
        // This process holds it already (a reboot that did not take the box down keeps it):
        // the holder itself must not be told that the voice subsystem is busy.
        ++depth_;
        return 1;
    }
    // Two attempts: the second after reopening, for a set that was removed since it was opened.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (semId_ < 0 && !Open()) {
            return 0;
        }
        struct sembuf take = {0, -1, static_cast<short>(SEM_UNDO | (noWait ? IPC_NOWAIT : 0))};
        int result;
        do {
            result = semop(semId_, &take, 1);
        } while (result != 0 && errno == EINTR);
        if (result == 0) {
            depth_ = 1;
            return 1;
        }
        if (errno != EIDRM && errno != EINVAL) {
            return 0;  // EAGAIN: held by another process, or not made free yet
        }
        semId_ = -1;
    }
    return 0;
}

void Semaphore::Unlock() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (depth_ == 0 || --depth_ > 0) {
        return;  // an unbalanced +1 would let two holders in at once
    }
    // SEM_UNDO here cancels the adjustment that TryLock recorded.
    struct sembuf giveBack = {0, 1, SEM_UNDO};
    int result;
    do {
        result = semop(semId_, &giveBack, 1);
    } while (result != 0 && errno == EINTR);
}
