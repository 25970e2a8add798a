// vigilerctl reboots: the reboot record on the configuration flash, listed or emptied by the
// technician who has fixed the box.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ctl/ctl.h"
#include "monitor/reboot_budget.h"

int RunReboots(const Arguments& args) {
    if (args.size() > 1 || (args.size() == 1 && args[0] != "--clear")) {
        fprintf(stderr, "vigilerctl: reboots: unknown argument '%s'\n", args.back().c_str());
        return kExitUsage;
    }
    if (!args.empty()) {
        // Cut to nothing in one step: a power cut leaves the old record or an empty one. A
        // missing record is empty already.
        int fd = open(kRebootRecordPath, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
        int error = fd < 0 ? (errno == ENOENT ? 0 : errno) : fsync(fd) == 0 ? 0 : errno;
        if (fd >= 0) {
            close(fd);
        }
        if (error != 0) {
            fprintf(stderr, "vigilerctl: cannot empty %s: %s\n", kRebootRecordPath,
                    strerror(error));
            return kExitFailure;
        }
        return 0;
    }
    std::vector<RebootEntry> entries;
    std::string why;
    if (!ReadRebootRecord(kRebootRecordPath, entries, why)) {
        fprintf(stderr, "vigilerctl: cannot read %s: %s\n", kRebootRecordPath, why.c_str());
        return kExitFailure;
    }
    for (const RebootEntry& entry : entries) {
        time_t at = static_cast<time_t>(entry.at);
        struct tm local;
        char clock[32];
        strftime(clock, sizeof clock, "%Y-%m-%d %H:%M:%S", localtime_r(&at, &local));
        printf("%lld %s %-10s %s\n", static_cast<long long>(entry.at), clock, entry.cause.c_str(),
               entry.service.c_str());
    }
    return 0;
}
