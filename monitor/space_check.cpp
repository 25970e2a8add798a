// Free-space alerts for the voice-mail and configuration file systems.
// Owns the per-file-system alert state and the alert texts.
#include "monitor/space_check.h"

#include <sys/vfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/settings_reader.h"
#include "core/daemon.h"
#include "core/log.h"

int32_t bbramLowWarned = 0;
int32_t bbramCriticalWarned = 0;
int32_t configLowWarned = 0;
int32_t configCriticalWarned = 0;

namespace {

struct WatchedFileSystem {
    const char* path;
    const char* contents;  // what the file system holds, as the alert texts name it
    const int32_t& freeLimit;
    const int32_t& criticalLimit;
    int32_t& lowWarned;
    int32_t& criticalWarned;
};

void RaiseLow(const char* contents, float share) {
    char text[128];
    snprintf(text, sizeof text,
             "Warning: Running low on file system space for %s. %02.1f percent left.", contents,
             static_cast<double>(share));
    if (event != nullptr) {
        event->Raise(text, nullptr, nullptr);
    }
}

void RaiseCritical(const char* contents, float share) {
    char text[128];
    snprintf(text, sizeof text,
             "Warning: Running critically low on file system space for %s. %02.1f percent left.",
             contents, static_cast<double>(share));
    if (event != nullptr) {
        event->Raise(text, nullptr, nullptr);
    }
}

// Each alert is raised once on entering its band; the flags hold it until the share climbs
// back out, so a file system that stays full does not alert every cycle.
void Check(const WatchedFileSystem& fs) {
    struct statfs info;
    if (statfs(fs.path, &info) != 0) {
        int error = errno;
        Report("Error: Could not stat filesystem: %s -> %d = %s\n", fs.path, error,
               strerror(error));
        return;
    }
    if (info.f_blocks == 0) {
        return;  // no share can be had; judge it again next cycle
    }
    // 64 bits: on 32-bit boxes the product overflows for large disks.
    int64_t percent =
        static_cast<int64_t>(info.f_bfree) * 100 / static_cast<int64_t>(info.f_blocks);
    float share = static_cast<float>(percent);

    if (!(share < static_cast<float>(fs.freeLimit))) {
        fs.lowWarned = 0;
        fs.criticalWarned = 0;
    } else if (!(share < static_cast<float>(fs.criticalLimit))) {
        fs.criticalWarned = 0;
        if (fs.lowWarned == 0) {
            RaiseLow(fs.contents, share);
        }
        fs.lowWarned = 1;
    } else {
        if (fs.criticalWarned == 0) {
            RaiseCritical(fs.contents, share);
        }
        fs.criticalWarned = 1;
        fs.lowWarned = 1;
    }
}

}  // namespace

int CheckFileSystemSpace() {
    Check({"/mnt/bbram", "voice mails", freeLimitBbram, criticalLimitBbram, bbramLowWarned,
           bbramCriticalWarned});
    Check({"/mnt/flashfs", "configuration data", freeLimitConfig, criticalLimitConfig,
           configLowWarned, configCriticalWarned});
    return 0;
}
