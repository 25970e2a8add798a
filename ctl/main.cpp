// vigilerctl: checks a configuration tree, shows the daemon's state and drives its modes.
// Owns the command line: the command names, --version and the usage text.
#include <cstdio>
#include <string>

#include "ctl/ctl.h"

namespace {

void PrintUsage(FILE* to) {
    fputs(
        "usage: vigilerctl check [--root DIR] [--owner-any] [--json] [--quiet]\n"
        "       vigilerctl status [--json] [--max-age SECONDS] [--max-pause SECONDS]\n"
        "       vigilerctl reboots [--clear]\n"
        "       vigilerctl pause | hibernate | resume | stop\n"
        "       vigilerctl --version\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--version") {
            printf("vigilerctl %s\n", VIGILERCTL_VERSION);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return 0;
        }
    }
    if (args.empty()) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    std::string command = args.front();
    args.erase(args.begin());
    if (command == "check") {
        return RunCheck(args);
    }
    if (command == "status") {
        return RunStatus(args);
    }
    if (command == "reboots") {
        return RunReboots(args);
    }
    if (command == "pause" || command == "hibernate" || command == "resume" || command == "stop") {
        return RunModeCommand(command, args);
    }
    fprintf(stderr, "vigilerctl: unknown command '%s'\n", command.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}
