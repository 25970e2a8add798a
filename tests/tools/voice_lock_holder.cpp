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
    bool taken = lock.TryLock(true) != 0;
    printf(taken ? "locked\n" : "busy\n");
    fflush(stdout);
    for (unsigned left = argc < 2 ? 1 : atoi(argv[1]); taken && left > 0;)
        left = argc < 2 ? (pause(), 1) : sleep(left);
    lock.Unlock();
    return taken ? 0 : 1;
}
