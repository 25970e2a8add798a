// Wall time of one command line started three ways, for scripts/bench: through System, as a
// bare posix_spawn of "/bin/sh -c line", and as a bare posix_spawn of the line's own words.
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/system.h"

extern char** environ;

namespace {

void SpawnAndWait(std::vector<char*>& argv) {
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0) {
        int status;
        waitpid(pid, &status, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words;
    if (argc != 3 || !SplitPlainCommand(argv[1], words) || atoi(argv[2]) <= 0) {
        fprintf(stderr, "usage: spawn_timer 'PLAIN COMMAND LINE' RUNS\n");
        return 2;
    }
    const std::string line = argv[1];
    std::vector<char*> direct;
    for (std::string& word : words) {
        direct.push_back(&word[0]);
    }
    direct.push_back(nullptr);
    std::string sh = "/bin/sh", dashC = "-c", text = line;
    std::vector<char*> shell = {&sh[0], &dashC[0], &text[0], nullptr};

    using Clock = std::chrono::steady_clock;
    double total[3] = {0, 0, 0};
    const int runs = atoi(argv[2]);
    for (int i = -3; i < runs; ++i) {  // three rounds of warm-up
        Clock::time_point marks[4];
        marks[0] = Clock::now();
        System(line, emptyResult);
        marks[1] = Clock::now();
        SpawnAndWait(shell);
        marks[2] = Clock::now();
        SpawnAndWait(direct);
        marks[3] = Clock::now();
        for (int k = 0; i >= 0 && k < 3; ++k) {
            total[k] += std::chrono::duration<double, std::micro>(marks[k + 1] - marks[k]).count();
        }
    }
    printf("%.0f %.0f %.0f\n", total[0] / runs, total[1] / runs, total[2] / runs);
    return 0;
}
