// CPU time of running processes for scripts/bench: the nanoseconds that all threads of each
// given process (living and ended, never its children) have run, one line per process.
#include <time.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: cpu_clock PID...\n");
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        // /proc/PID/stat counts in clock ticks of 10 ms, too coarse for a few hundred
        // microseconds a run; the process's own CPU clock counts in nanoseconds.
        clockid_t clock;
        struct timespec spent;
        pid_t pid = static_cast<pid_t>(atoi(argv[i]));
        if (pid <= 0 || clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &spent) != 0) {
            fprintf(stderr, "cpu_clock: no CPU clock for %s\n", argv[i]);
            status = 1;
            printf("0\n");
            continue;
        }
        printf("%lld\n", static_cast<long long>(spent.tv_sec) * 1000000000LL + spent.tv_nsec);
    }
    return status;
}
