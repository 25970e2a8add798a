// The box-wide voice lock, shared with the voice subsystem through System V IPC.
// Owns creation, race-free first initialisation, try-lock and release.
#include "platform/semaphore.h"

#include <errno.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <time.h>

namespace {

// The C library leaves this union to the caller.
union SemctlArgument {
    int value;
    struct semid_ds* info;
    unsigned short* values;
};

// How long an opener waits for the creator to finish initialising a new set.
constexpr int kInitialisationChecks = 100;
constexpr long kInitialisationPauseNs = 2 * 1000 * 1000;

// The set's creator initialises it with a semop, which stamps sem_otime; semctl(SETVAL)
// would not. A set whose sem_otime is still 0 is therefore not ready yet.
bool IsInitialised(int semId, bool& failed) {
    struct semid_ds info = {};
    SemctlArgument argument;
    argument.info = &info;
    failed = semctl(semId, 0, IPC_STAT, argument) != 0;
    return !failed && info.sem_otime != 0;
}

}  // namespace

Semaphore::Semaphore(int id, const char* path) : id_(id), path_(path) {}

// Opens the set, creating it free when it does not exist yet. A new set starts at 0; its
// creator alone raises it to 1, and every other process waits (briefly) for that, so a fresh
// lock never looks busy and is never made free twice.
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
    for (int check = 0; check < kInitialisationChecks; ++check) {
        bool failed = false;
        if (IsInitialised(semId, failed)) {
            semId_ = semId;
            return true;
        }
        if (failed) {
            return false;
        }
        struct timespec pause = {0, kInitialisationPauseNs};
        nanosleep(&pause, nullptr);  // an interrupted pause only shortens the wait
    }
    return false;  // the creator never finished; answer busy and try again next time
}

int Semaphore::TryLock(bool noWait) {
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
            held_ = true;
            return 1;
        }
        if (errno != EIDRM && errno != EINVAL) {
            return 0;  // EAGAIN: held by someone (possibly by this very object)
        }
        semId_ = -1;
    }
    return 0;
}

void Semaphore::Unlock() {
    if (!held_.exchange(false)) {
        return;  // an unbalanced +1 would let two holders in at once
    }
    // SEM_UNDO here cancels the adjustment that TryLock recorded.
    struct sembuf giveBack = {0, 1, SEM_UNDO};
    int result;
    do {
        result = semop(semId_, &giveBack, 1);
    } while (result != 0 && errno == EINTR);
}
