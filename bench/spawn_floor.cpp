// The floor of a status run for scripts/bench: the given scripts run with "status" one after
// another, a second after the last one ended, by a bare posix_spawn and waitpid and nothing else.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: spawn_floor SCRIPT...\n");
        return 2;
    }
    char status[] = "status";
    for (;;) {
        sleep(1);
        for (int i = 1; i < argc; ++i) {
            char* args[] = {argv[i], status, nullptr};
            pid_t pid;
            int code;
            if (posix_spawn(&pid, argv[i], nullptr, nullptr, args, environ) == 0) {
                waitpid(pid, &code, 0);
            }
        }
    }
}
