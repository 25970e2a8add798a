// Test tool that stands in for the voice subsystem: takes the box's voice lock and holds it.
// Owns nothing but its own hold: prints "locked" and waits, or "busy" and exits 1.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/semaphore.h"

// Usage: voice_lock_holder [SECONDS]. Without SECONDS the lock is held until the process is
// killed (the kernel then frees it); with SECONDS it is given back after that many seconds.
int main(int argc, char** argv) {
    Semaphore lock(37, "/bin/ls");
    if (lock.TryLock(true) == 0) {
        printf("busy\n");
        fflush(stdout);
        return 1;
    }
    printf("locked\n");
    fflush(stdout);
    if (argc < 2) {
        for (;;)
            pause();
    }
    unsigned int left = static_cast<unsigned int>(atoi(argv[1]));
    while (left > 0)
        left = sleep(left);
    lock.Unlock();
    return 0;
}
